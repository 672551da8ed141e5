#include "CommandLine.hpp"

#include <charconv>
#include <cmath>
#include <string_view>

namespace orbisgrove::tool {

CommandLine::CommandLine(std::span<char* const> arguments, const std::set<std::string>& valueOptions,
                         const std::set<std::string>& switches) {
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string option = arguments[i];
    if (switches.contains(option)) {
      switches_.insert(option);
    } else if (valueOptions.contains(option)) {
      if (i + 1 >= arguments.size()) throw UsageError(option + " needs a value");
      if (!values_.emplace(option, arguments[++i]).second) throw UsageError(option + " given twice");
    } else {
      throw UsageError("unknown argument \"" + option + "\"");
    }
  }
}

std::optional<std::string> CommandLine::value(const std::string& option) const {
  const auto found = values_.find(option);
  if (found == values_.end()) return std::nullopt;
  return found->second;
}

std::string CommandLine::required(const std::string& option) const {
  auto found = value(option);
  if (!found) throw UsageError(option + " is required");
  return *found;
}

double CommandLine::requiredNumber(const std::string& option) const {
  const std::string text = required(option);
  double number = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (error != std::errc{} || end != text.data() + text.size() || !std::isfinite(number)) {
    throw UsageError(option + " needs a decimal number, not \"" + text + "\"");
  }
  return number;
}

}  // namespace orbisgrove::tool
