// The tool's arguments: "--name value" options and "--name" switches.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <span>
#include <stdexcept>
#include <string>

namespace orbisgrove::tool {

/// A usage error: the tool prints the message and exits with status 2.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class CommandLine {
 public:
  /// Throws UsageError for an unknown option, a missing value or a repeated option.
  CommandLine(std::span<char* const> arguments, const std::set<std::string>& valueOptions,
              const std::set<std::string>& switches);

  [[nodiscard]] std::optional<std::string> value(const std::string& option) const;
  /// Throws UsageError when the option is missing.
  [[nodiscard]] std::string required(const std::string& option) const;
  [[nodiscard]] bool has(const std::string& option) const { return switches_.contains(option); }
  /// A finite decimal number; throws UsageError otherwise.
  [[nodiscard]] double requiredNumber(const std::string& option) const;

 private:
  std::map<std::string, std::string> values_;
  std::set<std::string> switches_;
};

}  // namespace orbisgrove::tool
