// A host's own HTTPS transport: for hosts that send every request through
// their own networking stack, and for builds of the kit without libcurl.
#pragma once

#include <orbisgrove/Export.hpp>
#include <orbisgrove/platform/Error.hpp>
#include <orbisgrove/platform/URLError.hpp>
#include <orbisgrove/platform/URLRequest.hpp>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace orbisgrove::platform {

/// Header fields in the order they arrived, names as the transport has them;
/// a name may come more than once.
using HTTPHeaderFieldList = std::vector<std::pair<std::string, std::string>>;

/// One request the kit asks the transport to make.
struct HTTPTransportRequest {
  /// Unique within the process; HTTPTransport::cancel names the request by it.
  std::uint64_t identifier = 0;
  /// "GET", "POST", ...
  std::string method;
  /// The absolute https URL.
  std::string url;
  /// The header fields to send, exactly these; the transport adds what its
  /// protocol needs (Host, Content-Length, ...).
  HTTPHeaderFields headerFields;
  /// The body bytes, sent exactly as they stand.
  std::string body;
  /// Seconds the whole request may take. When no outcome has come by then,
  /// the kit ends the request itself (timedOut) and cancels it.
  double timeoutSeconds = 60;
  /// Whether the transport may send the request again on its own, as a retry
  /// on a new connection after a kept-alive one died. False for submissions,
  /// whose body must reach the server at most once: where a resend would be
  /// needed, the transport fails the request (networkConnectionLost, may have
  /// reached the server) instead. Following a 307 or 308 is not a resend (the
  /// server said "not here"): the transport may follow it, sending the body to
  /// the new URL once, or hand the 3xx over.
  bool allowsResend = false;
  /// For a transport that reports when its requests go out
  /// (HTTPTransport::reportsSendStart): call it once the connection is ready,
  /// before the request's first byte is written (again before each
  /// redirected request), on any thread. It returns once the kit has
  /// recorded that the request goes out (the outbox commits that to disk,
  /// so it may take a disk sync), and says whether to send: false once the
  /// kit has ended the request (cancelled, timed out), once the process has
  /// begun to exit, or when the record could not be made. On false send
  /// nothing, and fail the request with mayHaveReachedServer false.
  std::function<bool()> sendStarting;
};

/// How one request ended: a whole reply, or a failed transfer.
struct HTTPTransportOutcome {
  /// A reply that arrived whole.
  static HTTPTransportOutcome reply(std::int64_t statusCode, HTTPHeaderFieldList headerFields, std::string body,
                                    int httpMajorVersion = 1) {
    HTTPTransportOutcome outcome;
    outcome.statusCode = statusCode;
    outcome.headerFields = std::move(headerFields);
    outcome.body = std::move(body);
    outcome.httpMajorVersion = httpMajorVersion;
    return outcome;
  }
  /// A transfer that failed with a code of the URL-loading domain.
  /// `mayHaveReachedServer` is false only when nothing of the request can
  /// have left the device; the outbox and submission errors rely on it.
  static HTTPTransportOutcome failure(URLErrorCode code, bool mayHaveReachedServer, std::string reason = {}) {
    HTTPTransportOutcome outcome;
    outcome.error = code;
    outcome.mayHaveReachedServer = mayHaveReachedServer;
    outcome.failureReason = std::move(reason);
    return outcome;
  }

  /// The reply's status code.
  std::int64_t statusCode = 0;
  /// The reply's header fields. The kit looks fields up by exact name
  /// ("X-Rate-Limit-Reset"), so over HTTP/1.x give them as the server sent
  /// them; values of a name given twice (in any letter case) are joined by
  /// ", " under the first spelling.
  HTTPHeaderFieldList headerFields;
  /// The reply's body, decoded: a transport that asks for compressed replies
  /// undoes their Content-Encoding before handing the bytes over.
  std::string body;
  /// 1 for HTTP/1.x. 2 or 3 say the names are in lower case, as HTTP/2 and
  /// HTTP/3 send them: the kit then capitalises each dash-separated word
  /// ("x-rate-limit-reset" becomes "X-Rate-Limit-Reset"), as its own session
  /// does.
  int httpMajorVersion = 1;
  /// Set for a failed transfer; the reply fields above are then unused.
  std::optional<URLErrorCode> error;
  /// For a failed transfer: whether any of the request may have reached the server.
  bool mayHaveReachedServer = true;
  /// For a failed transfer: what failed, in words (added to the error's failure reason).
  std::string failureReason;
};

/// Takes the outcome of one request. Call it once, from any thread (also from
/// within HTTPTransport::start); later calls, and calls after the kit has
/// ended the request itself (cancelled, timed out), are ignored.
using HTTPTransportCompletion = std::function<void(HTTPTransportOutcome outcome)>;

/// The table of functions that makes a transport.
struct HTTPTransport {
  /// Starts a request and returns soon, without waiting for it. Called on the
  /// kit's transport thread, one call at a time, with no lock of the kit held.
  std::function<void(HTTPTransportRequest request, HTTPTransportCompletion completion)> start;
  /// Stops the request `identifier` names. Called on the kit's transport
  /// thread once the kit has ended the request itself (cancelled by the host,
  /// or timed out) and completed it; its completion then is ignored. May be
  /// empty.
  std::function<void(std::uint64_t identifier)> cancel;
  /// Whether the transport calls HTTPTransportRequest::sendStarting for every
  /// request. When false, a request counts as going out when start is called
  /// (the kit records that just before), even should the transport fail it
  /// before it connected.
  bool reportsSendStart = false;
};

/// Makes `transport` the one every later request of the kit goes through,
/// instead of the kit's own libcurl session. Install it before the first
/// request and the outbox's first use: once the kit's shared session has
/// been used, the transport cannot change, and the call fails. Completions
/// still reach handlers exactly once, on the main queue, and every other
/// rule of the kit holds as with its own session. Settings of the kit's own
/// session (addTrustedCertificates, setProxy, setPinnedPublicKeys) do not
/// reach a host's transport, which decides these itself.
/// Returns null on success, else an error of the kit's domain that says why
/// (too late, or no start function).
[[nodiscard]] ORBISGROVE_EXPORT std::shared_ptr<const Error> installHTTPTransport(HTTPTransport transport);

}  // namespace orbisgrove::platform
