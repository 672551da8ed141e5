// Private scratch directories, whole-file reads, and binary property lists
// written by hand as no writer of ours makes them but a damaged or hostile
// file may be; for any test or helper.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

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

/// An object of `kind` (0x4 data, 0x5 text) with its length and bytes.
inline std::string counted(unsigned kind, std::string_view payload) {
  std::string head(1, static_cast<char>(kind << 4 | (payload.size() < 15 ? payload.size() : 0x0F)));
  if (payload.size() >= 15) head += {'\x10', static_cast<char>(payload.size())};
  return head + std::string(payload);
}

/// A file of `objects` (each its marker and payload; the first is the root),
/// with one-byte offsets and references: under 256 bytes in all.
inline std::string binaryPropertyList(const std::vector<std::string>& objects) {
  std::string bytes = "bplist00";
  std::string table;
  for (const std::string& object : objects) {
    table += static_cast<char>(bytes.size());
    bytes += object;
  }
  std::string trailer(32, '\0');
  trailer[6] = 1;  // offset size
  trailer[7] = 1;  // reference size
  trailer[15] = static_cast<char>(objects.size());
  trailer[31] = static_cast<char>(bytes.size());
  return bytes + table + trailer;
}

}  // namespace orbisgrove::testing
