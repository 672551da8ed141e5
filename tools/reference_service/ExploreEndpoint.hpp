// What the reference service answers, independent of the transport: one
// request in, one reply out. The HTTPS server in ReferenceService only moves
// bytes between the socket and handle().
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "RateLimiter.hpp"
#include "ReportStore.hpp"

namespace orbisgrove::tools {

inline constexpr std::string_view kExplorePath = "/explore-api/v1.2/";
/// Accepted reports can be read back with GET on this path plus their id, the
/// "url" a save reply hands out.
inline constexpr std::string_view kReportsPath = "/explore-api/v1.2/reports/";

struct EndpointRequest {
  std::string method;
  /// Path without query.
  std::string path;
  std::string contentType;
  std::string body;
  /// The client as the rate limit tells clients apart.
  std::string remoteAddress;
};

struct EndpointReply {
  int status = 200;
  /// Besides Content-Type, which is always application/json.
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
};

/// {"response":"<code>","data":[{"error":[messages...]}]}
std::string errorEnvelope(int code, const std::vector<std::string>& messages);

/// The reply body of operation 712.
const std::string& categoriesReplyBody();

/// Thread-safe: the server calls handle() from its pool threads.
class ExploreEndpoint {
 public:
  using Clock = std::function<std::chrono::system_clock::time_point()>;

  /// `hostAndPort` goes into the "url" of save replies; an empty `clock`
  /// means the system clock.
  ExploreEndpoint(std::string hostAndPort, Clock clock, ReportStore store, FixedWindowRateLimiter limiter);

  EndpointReply handle(const EndpointRequest& request);

  std::size_t reportCount() const;
  std::vector<StoredReport> reports() const;

 private:
  EndpointReply handleForm(const EndpointRequest& request);
  EndpointReply saveReport(const EndpointRequest& request, SubmittedReport submitted);
  EndpointReply readReport(std::string_view id) const;

  const std::string hostAndPort_;
  const Clock clock_;
  mutable std::mutex mutex_;
  ReportStore store_;
  FixedWindowRateLimiter limiter_;
};

}  // namespace orbisgrove::tools
