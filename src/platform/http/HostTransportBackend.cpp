// The session backend on a host's transport. The delivery thread calls the
// host's start and cancel functions and waits on a condition variable; the
// host's completion only hands the outcome over to it, so every end of a
// task (the host's outcome, a cancel, the time-out) is decided on that one
// thread.
#include "platform/core/ProcessLifecycle.hpp"
#include "platform/http/HeaderFieldNames.hpp"
#include "platform/http/SessionBackend.hpp"
#include "platform/http/SessionCore.hpp"
#include "platform/http/SessionDataTask.hpp"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <string_view>
#include <utility>

namespace orbisgrove::platform::http {
namespace {

class HostTransportBackend final : public SessionBackend {
 public:
  explicit HostTransportBackend(std::shared_ptr<const HTTPTransport> transport) : transport_(std::move(transport)) {}

  bool open() override { return true; }
  void wake() override {
    const std::lock_guard lock(waitMutex_);
    woken_ = true;
    wakeUp_.notify_one();
  }
  void release() override {}
  void threadStarted() override {}

  void wait(Clock::time_point until) override {
    std::unique_lock lock(waitMutex_);
    if (until == Clock::time_point::max()) {
      wakeUp_.wait(lock, [this] { return woken_; });
    } else {
      wakeUp_.wait_until(lock, until, [this] { return woken_; });
    }
    woken_ = false;
  }

  bool start(const std::shared_ptr<SessionDataTask>& task) override;

  void cancel(const std::shared_ptr<SessionDataTask>& task) override { endHere(task, URLErrorCode::cancelled); }

  Clock::time_point perform() override { return Clock::time_point::max(); }
  // A request at the transport that has not gone out yet is refused when
  // the transport reports its start (SessionDataTask::reportSendStart).
  void beginDrain() override {}

 private:
  // Ends a task on the kit's side (cancelled, timed out) and tells the host,
  // unless the process exits: its transport may be half torn down by then.
  void endHere(const std::shared_ptr<SessionDataTask>& task, URLErrorCode code) {
    const bool started = task->admitted;
    if (core().end(task, failedOutcome(task->request(), code, {}, started), started) && started) {
      cancelAtTransport(task->taskIdentifier());
    }
  }

  void cancelAtTransport(std::uint64_t identifier) {
    if (!transport_->cancel || processExiting()) return;
    try {
      transport_->cancel(identifier);
    } catch (...) {  // NOLINT(bugprone-empty-catch): the task has ended; nothing is left to tell
    }
  }

  // What the host's transport reports through HTTPTransportRequest::sendStarting.
  bool sendStarting(SessionDataTask& task) const {
    // One that does not report went out when it was started.
    if (!transport_->reportsSendStart) return task.state() == DataTask::State::running;
    return task.reportSendStart();
  }

  Outcome outcomeOf(SessionDataTask& task, HTTPTransportOutcome outcome) {
    const URLRequest& request = task.request();
    if (outcome.error) {
      // Told not to send, the transport failed the request: it was held back.
      const std::string_view refusal = task.refusal();
      if (!refusal.empty()) {
        return failedOutcome(request, URLErrorCode::cannotLoadFromNetwork, refusal, outcome.mayHaveReachedServer);
      }
      return failedOutcome(request, *outcome.error, outcome.failureReason, outcome.mayHaveReachedServer);
    }
    if (outcome.statusCode < 100 || outcome.statusCode > 999) {
      return failedOutcome(request, URLErrorCode::badServerResponse,
                           "the host's transport reported the status " + std::to_string(outcome.statusCode), true);
    }
    HTTPHeaderFields fields;
    HeaderFieldFiler filer(outcome.httpMajorVersion >= 2);
    for (const auto& [name, value] : outcome.headerFields) filer.file(fields, name, value);
    auto response = std::make_shared<const SessionHTTPURLResponse>(request.url, outcome.statusCode, std::move(fields),
                                                                   std::clamp(outcome.httpMajorVersion, 1, 3));
    const std::size_t limit = core().configuration().maximumBodyBytes;
    if (outcome.body.size() > limit) {
      return Outcome{std::nullopt, std::move(response),
                     makeTransportError(URLErrorCode::dataLengthExceedsMaximum, bodyTooLargeDetail(limit),
                                        request.url.absoluteString(), true)};
    }
    return Outcome{std::move(outcome.body), std::move(response), nullptr};
  }

  const std::shared_ptr<const HTTPTransport> transport_;

  std::mutex waitMutex_;
  std::condition_variable wakeUp_;
  bool woken_ = false;
};

bool HostTransportBackend::start(const std::shared_ptr<SessionDataTask>& task) {
  const URLRequest& original = task->request();
  if (!transport_) {
    core().end(task,
               failedOutcome(original, URLErrorCode::cannotLoadFromNetwork,
                             "the kit was built without libcurl, and the host installed no HTTPS transport before its "
                             "first request: see installHTTPTransport",
                             false),
               false);
    return false;
  }
  // A transport that does not report when its requests go out counts as
  // sending at once: the request goes out now.
  if (!transport_->reportsSendStart && !task->reportSendStart()) {
    core().end(task, failedOutcome(original, URLErrorCode::cannotLoadFromNetwork, task->refusal(), false), false);
    return false;
  }
  const std::weak_ptr<SessionCore> weakCore = core().self();
  const std::weak_ptr<SessionDataTask> weakTask = task;
  // The backend lives as long as its core: whoever holds the core may use it.
  HTTPTransportRequest request{.identifier = task->taskIdentifier(),
                               .method = original.httpMethod,
                               .url = original.url.absoluteString(),
                               .headerFields = original.allHTTPHeaderFields,
                               .body = original.httpBody,
                               .timeoutSeconds = core().timeoutSeconds(original),
                               .allowsResend = original.allowsTransportResend,
                               .sendStarting = [this, weakCore, weakTask] {
                                 const auto core = weakCore.lock();
                                 const auto reported = weakTask.lock();
                                 return core && reported && sendStarting(*reported);
                               }};
  // Timers run on the delivery thread, which holds the core (and with it
  // this backend) while it runs.
  core().postAt(
      task->deadline,
      [this, weakTask] {
        if (auto expired = weakTask.lock()) endHere(expired, URLErrorCode::timedOut);
      },
      true);
  HTTPTransportCompletion completion = [this, weakCore, weakTask](HTTPTransportOutcome outcome) {
    const auto core = weakCore.lock();
    if (!core) return;
    core->post(
        [this, core, weakTask, outcome = std::move(outcome)]() mutable {
          if (auto done = weakTask.lock()) core->end(done, outcomeOf(*done, std::move(outcome)), true);
        },
        true);
  };
  try {
    transport_->start(std::move(request), std::move(completion));
  } catch (const std::exception& failure) {
    core().end(task,
               failedOutcome(original, URLErrorCode::unknown,
                             std::string("the host's transport threw: ") + failure.what(), true),
               true);
    return false;
  } catch (...) {
    core().end(task, failedOutcome(original, URLErrorCode::unknown, "the host's transport threw", true), true);
    return false;
  }
  return true;
}

}  // namespace

std::unique_ptr<SessionBackend> makeHostTransportBackend(std::shared_ptr<const HTTPTransport> transport) {
  return std::make_unique<HostTransportBackend>(std::move(transport));
}

}  // namespace orbisgrove::platform::http
