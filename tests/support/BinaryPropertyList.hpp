// Binary property lists written by hand, as no writer of ours makes them but
// a damaged or hostile file may be.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace orbisgrove::testing {

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
