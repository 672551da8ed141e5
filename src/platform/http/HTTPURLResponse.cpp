#include <orbisgrove/platform/URLResponse.hpp>

namespace orbisgrove::platform {

// Exact-case on purpose: callers ask for the names the service is known to
// send ("X-Rate-Limit-Reset"), and the dictionary keeps the server's spelling.
std::optional<std::string_view> HTTPURLResponse::valueForHeaderField(std::string_view name) const {
  const auto field = headerFields_.find(name);
  if (field == headerFields_.end()) return std::nullopt;
  return std::string_view(field->second);
}

}  // namespace orbisgrove::platform
