// What a request's method and header fields may be before they go out.
#pragma once

#include <string_view>

namespace orbisgrove::platform::http {

bool equalsIgnoringCase(std::string_view a, std::string_view b) noexcept;

/// Whether `text` is an RFC 9110 token: what a header name or a method may consist of.
bool isToken(std::string_view text) noexcept;

/// Whether a header value is free of line ends and NUL: it must not smuggle
/// a second header (or a second request) onto the wire.
bool isSafeHeaderValue(std::string_view text) noexcept;

/// Whether a field frames the message or manages the connection: it belongs
/// to the session, and a caller's value would contradict what actually goes
/// out. Accept-Encoding too: the session decodes what it asked for.
bool isManagedByProtocol(std::string_view name) noexcept;

}  // namespace orbisgrove::platform::http
