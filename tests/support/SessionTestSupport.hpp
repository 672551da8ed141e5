// Collecting the completions of data tasks in the session's tests, and the
// backends the session contract runs on.
#pragma once

#include "TestPrelude.hpp"

#include "platform/http/Sessions.hpp"
#include "platform/http/URLSession.hpp"

#include <LocalHttpsService.hpp>

#include <orbisgrove/platform/URLError.hpp>

#include <condition_variable>

namespace orbisgrove::platform::testing {

using orbisgrove::testing::LocalHttpsService;
using orbisgrove::testing::RecordedRequest;
using orbisgrove::testing::Reply;
using ::testing::HasSubstr;
using namespace std::chrono_literals;

/// What one task's completion received, and how often it ran.
class Completion : public std::enable_shared_from_this<Completion> {
 public:
  static std::shared_ptr<Completion> make() { return std::make_shared<Completion>(); }

  /// A handler that records into this object; `session` (optional) is asked
  /// whether the handler runs on its delivery thread.
  URLSession::CompletionHandler handler(const URLSession* session = nullptr) {
    return [self = shared_from_this(), session](std::optional<std::string> body,
                                                std::shared_ptr<const URLResponse> response,
                                                std::shared_ptr<const Error> error) {
      {
        const std::lock_guard lock(self->mutex_);
        ++self->calls_;
        self->body_ = std::move(body);
        self->response_ = std::dynamic_pointer_cast<const HTTPURLResponse>(response);
        self->error_ = std::move(error);
        self->onDeliveryThread_ = session != nullptr && session->isDeliveryThread();
      }
      self->arrived_.notify_all();
    };
  }

  bool wait(std::chrono::milliseconds timeout = std::chrono::seconds(15)) {
    std::unique_lock lock(mutex_);
    return arrived_.wait_for(lock, timeout, [this] { return calls_ > 0; });
  }

  int calls() const { return read(calls_); }
  std::optional<std::string> body() const { return read(body_); }
  std::shared_ptr<const HTTPURLResponse> response() const { return read(response_); }
  std::shared_ptr<const Error> error() const { return read(error_); }
  bool ranOnDeliveryThread() const { return read(onDeliveryThread_); }
  /// The error's code in the URL-loading domain; 0 when there is no error.
  std::int64_t urlErrorCode() const {
    const auto e = error();
    return !e ? 0 : e->domain() == URLErrorDomain ? e->code() : -424242;
  }

 private:
  template <class T>
  T read(const T& field) const {
    const std::lock_guard lock(mutex_);
    return field;
  }

  mutable std::mutex mutex_;
  std::condition_variable arrived_;
  int calls_ = 0;
  std::optional<std::string> body_;
  std::shared_ptr<const HTTPURLResponse> response_;
  std::shared_ptr<const Error> error_;
  bool onDeliveryThread_ = false;
};

inline std::int64_t code(URLErrorCode value) { return static_cast<std::int64_t>(value); }

/// A session of its own that trusts the authority in `caFile`.
inline std::unique_ptr<URLSession> sessionTrusting(const std::string& caFile,
                                                   URLSessionConfiguration configuration = {}) {
  configuration.additionalTrustedCertificateFiles.push_back(caFile);
  return URLSession::make(std::move(configuration));
}

inline URLRequest requestFor(const std::string& url, std::string method = "GET", std::string body = {}) {
  auto parsed = URL::fromString(url);
  if (!parsed) throw std::invalid_argument("not a URL: " + url);
  URLRequest request(*parsed);
  request.httpMethod = std::move(method);
  request.httpBody = std::move(body);
  return request;
}

/// Runs `request` on `session` and waits for its completion.
inline std::shared_ptr<Completion> run(URLSession& session, URLRequest request) {
  auto done = Completion::make();
  session.dataTask(std::move(request), done->handler())->resume();
  EXPECT_TRUE(done->wait()) << "no completion";
  return done;
}

/// The backends by name: libcurl's, and a host's transport that hands each
/// request to a libcurl session of its own, reporting when the request goes
/// out ("reportingHost") or not ("silentHost").
inline constexpr std::string_view kBackends[] = {"libcurl", "reportingHost", "silentHost"};

/// A session of its own on `backend`, trusting the authority in `caFile`.
inline std::unique_ptr<URLSession> sessionOn(std::string_view backend, const std::string& caFile,
                                             URLSessionConfiguration configuration = {}) {
  if (backend == "libcurl") return sessionTrusting(caFile, std::move(configuration));
  const bool reports = backend == "reportingHost";
  const std::shared_ptr<URLSession> carrier = sessionTrusting(caFile);
  const auto start = [carrier, reports](HTTPTransportRequest request, HTTPTransportCompletion completion) {
    auto carried = requestFor(request.url, request.method, request.body);
    carried.allHTTPHeaderFields = request.headerFields;
    carried.timeoutInterval = request.timeoutSeconds;
    carried.allowsTransportResend = request.allowsResend;
    const auto relay = [completion](auto body, auto response, const std::shared_ptr<const Error>& error) {
      const auto* reply = dynamic_cast<const SessionHTTPURLResponse*>(response.get());
      if (error) {
        return completion(HTTPTransportOutcome::failure(
            static_cast<URLErrorCode>(error->code()), error->deliveryFacts().requestMayHaveReachedServer.value_or(true),
            error->localizedFailureReason().value_or("")));
      }
      const auto& fields = reply->allHeaderFields();
      completion(HTTPTransportOutcome::reply(reply->statusCode(), {fields.begin(), fields.end()}, *body,
                                             reply->httpMajorVersion()));
    };
    carrier->dataTask(carried, relay, reports ? request.sendStarting : nullptr)->resume();
  };
  return http::makeHostTransportSession(
      std::make_shared<const HTTPTransport>(HTTPTransport{.start = start, .cancel = {}, .reportsSendStart = reports}),
      std::move(configuration));
}

}  // namespace orbisgrove::platform::testing
