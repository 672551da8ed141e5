#include "platform/http/RequestFields.hpp"

#include <algorithm>
#include <cstring>

namespace orbisgrove::platform::http {

bool equalsIgnoringCase(std::string_view a, std::string_view b) noexcept {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    return lower(x) == lower(y);
  });
}

bool isToken(std::string_view text) noexcept {
  if (text.empty()) return false;
  return std::all_of(text.begin(), text.end(), [](char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
    return std::strchr("!#$%&'*+-.^_`|~", c) != nullptr && c != '\0';
  });
}

bool isSafeHeaderValue(std::string_view text) noexcept {
  return text.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

bool isManagedByProtocol(std::string_view name) noexcept {
  for (const std::string_view managed : {"Content-Length", "Transfer-Encoding", "Host", "Connection", "Keep-Alive",
                                         "Expect", "Upgrade", "TE", "Proxy-Connection", "Accept-Encoding"}) {
    if (equalsIgnoringCase(name, managed)) return true;
  }
  return false;
}

}  // namespace orbisgrove::platform::http
