// What a libcurl transfer tells about how a reply failed, beyond libcurl's
// own result code: a proxy that refused the tunnel, a reply head too large,
// a redirect that keeps the request's body.
#pragma once

#include <curl/curl.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace orbisgrove::platform::http {

/// The bytes of reply heads a transfer accepts, redirects and interim replies
/// included: below libcurl's own limit, which fails as a lost connection.
inline constexpr std::size_t maximumHeaderBytes = std::size_t{256} * 1024;

/// Whether `statusLine` ("HTTP/1.1 307 Temporary Redirect") is a 307 or 308:
/// a redirect that sends the same method and body to the new URL.
bool isRedirectKeepingTheBody(std::string_view statusLine) noexcept;

/// Why the proxy would not open a tunnel to the server (its answer to
/// CONNECT was not 2xx), naming the proxy without its credentials and the
/// status; none when no proxy refused. `configured` is the session's proxy
/// setting (none: libcurl follows the environment).
std::optional<std::string> proxyRefusal(CURL* easy, const std::optional<std::string>& configured);

}  // namespace orbisgrove::platform::http
