// Reply field names as every session files them.
#pragma once

#include <orbisgrove/platform/URLRequest.hpp>

#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace orbisgrove::platform::http {

inline std::string lowerCased(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

// HTTP/2 and HTTP/3 send field names in lower case; hosts look them up as the
// services spell them, each dash-separated word capitalised.
inline std::string canonicalFieldName(std::string_view name) {
  std::string canonical(name);
  bool wordStart = true;
  for (char& c : canonical) {
    if (wordStart && c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    wordStart = c == '-';
  }
  return canonical;
}

/// Files reply fields: names compare without case, the first spelling is the
/// one kept (capitalised when `canonicalNames`), and a repeated field's
/// values are joined by ", ".
class HeaderFieldFiler {
 public:
  explicit HeaderFieldFiler(bool canonicalNames = false) : canonicalNames_(canonicalNames) {}

  /// Forgets the fields filed so far, for the next reply's head.
  void reset(bool canonicalNames) {
    canonicalNames_ = canonicalNames;
    index_.clear();
  }

  /// Files one field; returns the name it is filed under.
  const std::string& file(HTTPHeaderFields& fields, std::string_view name, std::string_view value) {
    std::string spelling = canonicalNames_ ? canonicalFieldName(name) : std::string(name);
    const auto [entry, isNew] = index_.try_emplace(lowerCased(name), std::move(spelling));
    if (isNew) {
      fields.emplace(entry->second, std::string(value));
    } else {
      std::string& joined = fields[entry->second];
      joined += ", ";
      joined += value;
    }
    return entry->second;
  }

 private:
  bool canonicalNames_;
  // Lower-cased name -> the name the field is filed under: one lookup per
  // field, however many came before.
  std::unordered_map<std::string, std::string> index_;
};

}  // namespace orbisgrove::platform::http
