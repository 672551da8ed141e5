// What the libcurl session does about gateways, proxies and servers in front
// of the service: how a request that may go out only once is sent, and what
// a transfer tells beyond libcurl's own result code (a proxy that refused the
// tunnel).
#pragma once

#include <curl/curl.h>

#include <optional>
#include <string>

namespace orbisgrove::platform::http {

/// Sets a request that may reach the server only once to go out over
/// HTTP/1.1, on a connection idle for at most a few seconds. Over HTTP/2 a
/// stream the server refuses, or drops with a GOAWAY, looks to libcurl 7.88
/// like a kept-alive connection that died after the request went out (it
/// offers no signal that tells them apart), and such a request has no
/// verdict. HTTP/1.1 carries one request per connection at a time and ends a
/// connection between requests ("Connection: close"); servers close idle
/// connections on their own clock, and one closed just as the request goes
/// out leaves it without a verdict too.
CURLcode sendAloneOnARecentConnection(CURL* easy);

/// Why the proxy would not open a tunnel to the server (its answer to
/// CONNECT was not 2xx), naming the proxy without its credentials and the
/// status; none when no proxy refused. `configured` is the session's proxy
/// setting (none: libcurl follows the environment).
std::optional<std::string> proxyRefusal(CURL* easy, const std::optional<std::string>& configured);

}  // namespace orbisgrove::platform::http
