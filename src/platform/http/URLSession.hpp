// The platform session: HTTPS data tasks delivered on one delivery thread.
#pragma once

#include <orbisgrove/platform/DataTask.hpp>
#include <orbisgrove/platform/Error.hpp>
#include <orbisgrove/platform/URLRequest.hpp>
#include <orbisgrove/platform/URLResponse.hpp>

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace orbisgrove::platform {

struct URLSessionConfiguration {
  /// A reply body larger than this ends the task with a transport error.
  std::size_t maximumBodyBytes = std::size_t{16} * 1024 * 1024;
  /// When set, no request waits longer than this many seconds, whatever its
  /// own timeout says (lets tests exercise time-outs quickly).
  std::optional<double> timeoutCap;
  /// PEM files of certificate authorities trusted in addition to the system's.
  std::vector<std::string> additionalTrustedCertificateFiles;
  /// The proxy, as platform::setProxy takes it: std::nullopt follows the
  /// environment, "" connects directly, else the proxy's URL.
  std::optional<std::string> proxy;
  /// Public-key pins, as platform::setPinnedPublicKeys takes them; none pins nothing.
  std::vector<std::string> pinnedPublicKeys;
};

/// An HTTP reply as the platform session delivers it, which also tells the
/// HTTP version that carried it.
class SessionHTTPURLResponse final : public HTTPURLResponse {
 public:
  SessionHTTPURLResponse(URL url, std::int64_t statusCode, HTTPHeaderFields headerFields, int httpMajorVersion)
      : HTTPURLResponse(std::move(url), statusCode, std::move(headerFields)), httpMajorVersion_(httpMajorVersion) {}
  /// 1 for HTTP/1.x, 2 for HTTP/2, 3 for HTTP/3, as the transport negotiated it.
  [[nodiscard]] int httpMajorVersion() const noexcept { return httpMajorVersion_; }

 private:
  int httpMajorVersion_;
};

/// Makes data tasks. Every completion runs exactly once, on the session's
/// delivery thread, with (body or none, reply or none, transport error or
/// none): a reply that arrived whole has a body (possibly empty) and no error;
/// a failed transfer has no body and an error of the URL-loading domain whose
/// DeliveryFacts say whether any of the request may have reached the server.
/// Reply field names over HTTP/1.x are as the server sent them; over HTTP/2
/// and HTTP/3, which send them in lower case, each dash-separated word is
/// capitalised ("x-rate-limit-reset" becomes "X-Rate-Limit-Reset"). A request
/// whose allowsTransportResend is false has its body sent at most once. After
/// fork() the child's requests fail at once (cannotLoadFromNetwork).
class URLSession {
 public:
  using CompletionHandler =
      std::function<void(std::optional<std::string> body, std::shared_ptr<const URLResponse> response,
                         std::shared_ptr<const Error> error)>;

  /// The process-wide session every kit request uses; created on first use,
  /// never destroyed. It goes through the transport given to
  /// installHTTPTransport() if there is one, else through libcurl (in a build
  /// without libcurl every request then fails at once, cannotLoadFromNetwork);
  /// it takes the host's settings (trusted files, proxy, pins) made so far.
  static URLSession& shared();
  /// A session of its own, with its own delivery thread; its destructor
  /// cancels what is still in flight (each completion still runs once) and
  /// joins the thread. On libcurl, or in a build without it on the installed
  /// transport.
  static std::unique_ptr<URLSession> make(URLSessionConfiguration configuration);

  virtual ~URLSession() = default;
  URLSession() = default;
  URLSession(const URLSession&) = delete;
  URLSession& operator=(const URLSession&) = delete;

  /// Called once the request's connection is ready and before its first byte
  /// is written (again before each redirected request). Returns false to
  /// stop the request there: it then fails as one that never left the device.
  /// Runs on the delivery thread, or on the thread of a host transport that
  /// reports the moment; a host transport that does not is taken to send at
  /// once, and the hook runs before its start function is called.
  using RequestStartHook = std::function<bool()>;

  /// A suspended task for `request`; `completion` runs once on the delivery
  /// thread after resume() (or after cancel()).
  std::shared_ptr<DataTask> dataTask(URLRequest request, CompletionHandler completion) {
    return dataTask(std::move(request), std::move(completion), nullptr);
  }
  /// The same, with `onRequestStart` (may be empty) told when the request
  /// starts to go out.
  virtual std::shared_ptr<DataTask> dataTask(URLRequest request, CompletionHandler completion,
                                             RequestStartHook onRequestStart) = 0;
  /// Trusts the certificate authorities of a PEM file for later connections.
  virtual void addTrustedCertificates(std::string pemFile) = 0;
  /// Uses `proxy` (as URLSessionConfiguration::proxy) for later requests.
  virtual void setProxy(std::optional<std::string> proxy) = 0;
  /// Uses `pins` (as URLSessionConfiguration::pinnedPublicKeys) for later requests.
  virtual void setPinnedPublicKeys(std::vector<std::string> pins) = 0;
  /// Whether the calling thread is this session's delivery thread.
  [[nodiscard]] virtual bool isDeliveryThread() const = 0;
};

}  // namespace orbisgrove::platform
