// Private scratch directories and whole-file reads, for any test or helper.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

namespace orbisgrove::testing {

/// A fresh private (0700) directory under $TMPDIR or /tmp; throws when none can be made.
inline std::string freshDirectory(const std::string& prefix = "orbisgrove-test") {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/" + prefix + "-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make " + pattern);
  return pattern;
}

/// A file's bytes; empty when it cannot be read.
inline std::string contentsOf(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

/// A fresh directory, removed with everything in it at the end of the scope.
class ScratchDirectory {
 public:
  explicit ScratchDirectory(const std::string& prefix = "orbisgrove-test") : path_(freshDirectory(prefix)) {}
  ~ScratchDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  [[nodiscard]] const std::string& path() const { return path_; }
  [[nodiscard]] std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace orbisgrove::testing
