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
  explicit URLRequest(URL requestURL, URLRequestCachePolicy policy = URLRequestCachePolicy::useProtocolCachePolicy,
                      double timeout = 60.0)
      : url(std::move(requestURL)), cachePolicy(policy), timeoutInterval(timeout) {}

  URL url;
  URLRequestCachePolicy cachePolicy;
  /// Seconds the whole request may take.
  double timeoutInterval;
  std::string httpMethod = "GET";
  HTTPHeaderFields allHTTPHeaderFields;
  /// Body bytes, sent exactly as they stand.
  std::string httpBody;
};

}  // namespace orbisgrove::platform
