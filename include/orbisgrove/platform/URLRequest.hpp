// What a data task sends: one HTTP request.
#pragma once

#include <orbisgrove/Export.hpp>
#include <orbisgrove/platform/URL.hpp>

#include <map>
#include <string>
#include <utility>

namespace orbisgrove::platform {

/// Header fields by exact name.
using HTTPHeaderFields = std::map<std::string, std::string, std::less<>>;

enum class URLRequestCachePolicy {
  /// Whatever the protocol's own rules give (for POST: nothing is cached).
  useProtocolCachePolicy,
  reloadIgnoringLocalCacheData,
};

/// One HTTP request. The header dictionary holds every header the caller sets;
/// the session adds only what the protocol itself needs (Host,
/// Content-Length).
struct URLRequest {
  /// A GET of `requestURL` with no header fields and no body.
  explicit URLRequest(URL requestURL, URLRequestCachePolicy policy = URLRequestCachePolicy::useProtocolCachePolicy,
                      double timeout = 60.0)
      : url(std::move(requestURL)), cachePolicy(policy), timeoutInterval(timeout) {}

  /// Where the request goes.
  URL url;
  /// Whether a cached reply may answer it.
  URLRequestCachePolicy cachePolicy;
  /// Seconds the whole request may take.
  double timeoutInterval;
  /// "GET", "POST", ...
  std::string httpMethod = "GET";
  /// The header fields to send, by exact name.
  HTTPHeaderFields allHTTPHeaderFields;
  /// Body bytes, sent exactly as they stand.
  std::string httpBody;
  /// Whether the session may send the body again on its own, as HTTP clients
  /// do when a kept-alive connection dies before the reply. Off unless the
  /// request changes nothing on the server: a resend the caller never asked
  /// for can store a second copy, while a request held to one sending merely
  /// fails (connection lost) where a resend would have been needed.
  bool allowsTransportResend = false;
};

}  // namespace orbisgrove::platform
