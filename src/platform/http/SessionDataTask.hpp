// What both sessions' data tasks share: the request, the completion that runs
// once, the identifier and the state; each session adds how a task starts
// and ends on its own delivery thread.
#pragma once

#include "platform/core/Console.hpp"
#include "platform/http/Sessions.hpp"
#include "platform/http/TransportError.hpp"
#include "platform/http/URLSession.hpp"

#include <atomic>
#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace orbisgrove::platform::http {

/// What a task's completion receives.
struct Outcome {
  std::optional<std::string> body;
  std::shared_ptr<const URLResponse> response;
  std::shared_ptr<const Error> error;
};

/// Why a request whose start hook refused it never went out.
inline constexpr std::string_view kRequestHeldBack =
    "the request was held back before its first byte was sent: its sender could not record that it was going out";

/// Why a request of a forked child fails at once.
inline constexpr std::string_view kForkedChildRequest =
    "the URL session belongs to the process that made it; a process made by fork() cannot use it";

/// Why a request that had not begun to go out when the process began to
/// exit never will.
inline constexpr std::string_view kProcessExitingBeforeSend = "the process began to exit before the request went out";

inline Outcome failedOutcome(const URLRequest& request, URLErrorCode code, std::string_view detail, bool reached) {
  return Outcome{std::nullopt, nullptr, makeTransportError(code, detail, request.url.absoluteString(), reached)};
}

class SessionDataTask : public DataTask {
 public:
  SessionDataTask(URLRequest request, URLSession::CompletionHandler completion,
                  URLSession::RequestStartHook onRequestStart = nullptr)
      : request_(std::move(request)),
        completion_(std::move(completion)),
        onRequestStart_(std::move(onRequestStart)),
        identifier_(nextTaskIdentifier()) {}

  [[nodiscard]] State state() const override { return state_.load(); }
  [[nodiscard]] const URLRequest& originalRequest() const override { return request_; }
  [[nodiscard]] std::uint64_t taskIdentifier() const override { return identifier_; }

  /// Tells the caller's hook that the request starts to go out; false when
  /// the hook refuses (or throws), and the request must not be sent.
  bool requestStarting() noexcept {
    if (!onRequestStart_) return true;
    try {
      return onRequestStart_();
    } catch (...) {
      return false;
    }
  }

  /// Runs the completion, once; the caller has claimed the task. A throwing
  /// handler must not take the delivery thread (and with it every other task
  /// of the session) down; the developer hears of it.
  void complete(Outcome outcome) {
    auto completion = std::exchange(completion_, nullptr);
    if (!completion) return;
    try {
      completion(std::move(outcome.body), std::move(outcome.response), std::move(outcome.error));
    } catch (const std::exception& failure) {
      consoleLine(std::string("A completion handler of the URL session threw: ") + failure.what());
    } catch (...) {
      consoleLine("A completion handler of the URL session threw an exception that is not a std::exception.");
    }
    // `completion` goes out of scope here, releasing what it captured before
    // the next task's completion runs.
  }

 protected:
  const URLRequest request_;
  URLSession::CompletionHandler completion_;
  const URLSession::RequestStartHook onRequestStart_;
  const std::uint64_t identifier_;
  std::atomic<State> state_{State::suspended};
};

}  // namespace orbisgrove::platform::http
