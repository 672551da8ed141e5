#include "platform/http/SessionDataTask.hpp"

#include "platform/core/Console.hpp"
#include "platform/core/ProcessLifecycle.hpp"
#include "platform/http/SessionCore.hpp"

#include <exception>
#include <utility>

namespace orbisgrove::platform::http {

std::uint64_t nextTaskIdentifier() {
  static std::atomic<std::uint64_t> last{0};
  return ++last;
}

SessionDataTask::SessionDataTask(std::shared_ptr<SessionCore> core, URLRequest request,
                                 URLSession::CompletionHandler completion, URLSession::RequestStartHook onRequestStart)
    : core_(std::move(core)),
      request_(std::move(request)),
      completion_(std::move(completion)),
      onRequestStart_(std::move(onRequestStart)),
      identifier_(nextTaskIdentifier()) {}

void SessionDataTask::resume() { core_->resume(*this); }
void SessionDataTask::cancel() { core_->cancel(*this); }

bool SessionDataTask::beginRunning() {
  auto expected = State::suspended;
  return state_.compare_exchange_strong(expected, State::running);
}

bool SessionDataTask::beginCanceling() {
  auto state = state_.load();
  do {
    if (state == State::completed || state == State::canceling) return false;
  } while (!state_.compare_exchange_weak(state, State::canceling));
  return true;
}

bool SessionDataTask::requestStarting() noexcept {
  if (!onRequestStart_) return true;
  try {
    return onRequestStart_();
  } catch (...) {
    return false;
  }
}

bool SessionDataTask::reportSendStart() {
  const std::lock_guard lock(sendStart_);
  if (state_.load() != State::running) return false;
  if (processExiting() && !sentOnce_) {
    refusal_ = kProcessExitingBeforeSend;
    return false;
  }
  if (!requestStarting()) {
    refusal_ = kRequestHeldBack;
    return false;
  }
  sentOnce_ = true;
  return true;
}

std::string_view SessionDataTask::refusal() {
  const std::lock_guard lock(sendStart_);
  return refusal_;
}

bool SessionDataTask::claim(bool& wasCancelled) {
  auto state = state_.load();
  do {
    if (state == State::completed) return false;
  } while (!state_.compare_exchange_weak(state, State::completed));
  wasCancelled = state == State::canceling;
  return true;
}

bool SessionDataTask::claimAfterSendStart(bool& wasCancelled) {
  const std::lock_guard lock(sendStart_);
  return claim(wasCancelled);
}

void SessionDataTask::complete(Outcome outcome) {
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

}  // namespace orbisgrove::platform::http
