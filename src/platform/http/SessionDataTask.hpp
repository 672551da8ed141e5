// A data task of the platform session: the request, the completion that runs
// exactly once, the identifier and the state. The session core moves it from
// state to state; a transport backend tells when its request goes out.
#pragma once

#include "platform/http/TransportError.hpp"
#include "platform/http/URLSession.hpp"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace orbisgrove::platform::http {

class SessionCore;

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

/// The next task identifier, unique within the process across all sessions.
std::uint64_t nextTaskIdentifier();

class SessionDataTask final : public DataTask, public std::enable_shared_from_this<SessionDataTask> {
 public:
  using Clock = std::chrono::steady_clock;

  SessionDataTask(std::shared_ptr<SessionCore> core, URLRequest request, URLSession::CompletionHandler completion,
                  URLSession::RequestStartHook onRequestStart);

  [[nodiscard]] State state() const override { return state_.load(); }
  [[nodiscard]] const URLRequest& originalRequest() const override { return request_; }
  [[nodiscard]] std::uint64_t taskIdentifier() const override { return identifier_; }
  void resume() override;
  void cancel() override;

  [[nodiscard]] const URLRequest& request() const { return request_; }

  /// From suspended to running; false when the task was resumed, cancelled or ended before.
  bool beginRunning();
  /// To canceling; false when the task is being cancelled or has ended.
  bool beginCanceling();

  /// Tells the caller's hook that the request starts to go out; false when
  /// the hook refuses (or throws), and the request must not be sent.
  bool requestStarting() noexcept;
  /// A transport reports that the request starts to go out (on any thread):
  /// whether it may. Not once the task has ended or is being cancelled, nor,
  /// before it first went out, once the process exits; else the start hook
  /// decides.
  bool reportSendStart();
  /// Why the transport was told not to send; empty when it was not.
  std::string_view refusal();

  /// Takes the task for completion; false when it has ended already. Tells
  /// whether cancel() came first, in which case the outcome is "cancelled".
  bool claim(bool& wasCancelled);
  /// The same once no report of the send's start is running: the hook's
  /// verdict and the task's end never cross.
  bool claimAfterSendStart(bool& wasCancelled);
  /// Runs the completion, once; the caller has claimed the task. A throwing
  /// handler must not take the delivery thread (and with it every other task
  /// of the session) down; the developer hears of it.
  void complete(Outcome outcome);
  /// Ends the task with `outcome` unless it has ended already.
  void endAtOnce(Outcome outcome) {
    bool wasCancelled = false;
    if (claim(wasCancelled)) complete(std::move(outcome));
  }

  // The session core's, on the delivery thread only.
  std::string origin;          // whose line it joined
  Clock::time_point deadline;  // when its timeout ends
  std::optional<std::multimap<Clock::time_point, SessionDataTask*>::iterator> waitingEntry;
  bool admitted = false;  // the transport has it, and it holds a place in its line

 private:
  const std::shared_ptr<SessionCore> core_;
  const URLRequest request_;
  URLSession::CompletionHandler completion_;
  const URLSession::RequestStartHook onRequestStart_;
  const std::uint64_t identifier_;
  std::atomic<State> state_{State::suspended};
  std::mutex sendStart_;
  bool sentOnce_ = false;
  std::string_view refusal_;
};

}  // namespace orbisgrove::platform::http
