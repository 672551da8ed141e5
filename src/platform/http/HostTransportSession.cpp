// The platform session on a host's transport. A delivery thread of the
// session's own (a queue and timers, nothing else) calls the host's start and
// cancel functions and runs every completion and timer; the host's completion
// only hands the outcome over to it. Every end of a task (the host's outcome,
// a cancel, the time-out) is decided on that one thread, so each task ends
// exactly once and whatever comes later finds it ended.
#include "platform/core/ProcessLifecycle.hpp"
#include "platform/http/HeaderFieldNames.hpp"
#include "platform/http/SessionDataTask.hpp"
#include "platform/http/Sessions.hpp"
#include "platform/http/TransportError.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string_view>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <utility>

namespace orbisgrove::platform::http {
namespace {

using Clock = std::chrono::steady_clock;

constexpr double defaultTimeoutSeconds = 60;
// A request cannot ask for more than a day.
constexpr double longestTimeoutSeconds = 24.0 * 60 * 60;

class HostCore;

class HostDataTask final : public SessionDataTask, public std::enable_shared_from_this<HostDataTask> {
 public:
  HostDataTask(std::shared_ptr<HostCore> core, URLRequest request, URLSession::CompletionHandler completion,
               URLSession::RequestStartHook onRequestStart)
      : SessionDataTask(std::move(request), std::move(completion), std::move(onRequestStart)), core_(std::move(core)) {}

  void resume() override;
  void cancel() override;

  // Takes the task for completion; false when it has ended already. Tells
  // whether cancel() came first, in which case the outcome is "cancelled".
  bool claim(bool& wasCancelled) {
    auto state = state_.load();
    do {
      if (state == State::completed) return false;
    } while (!state_.compare_exchange_weak(state, State::completed));
    wasCancelled = state == State::canceling;
    return true;
  }

  void endAtOnce(Outcome outcome) {
    bool wasCancelled = false;
    if (claim(wasCancelled)) complete(std::move(outcome));
  }

  // The request starts to go out (on any thread): whether it may. Not once
  // the task has ended or is being cancelled, nor, before it first went out,
  // once the process exits; else the start hook decides.
  bool reportSendStart() {
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

  // Why the transport was told not to send; empty when it was not.
  std::string_view refusal() {
    const std::lock_guard lock(sendStart_);
    return refusal_;
  }

 private:
  friend class HostCore;
  std::shared_ptr<HostCore> core_;
  // Delivery thread only: the host's start function has been called.
  bool atTransport_ = false;
  std::mutex sendStart_;
  bool sentOnce_ = false;
  std::string_view refusal_;
};

class HostCore final : public ExitParticipant, public std::enable_shared_from_this<HostCore> {
 public:
  HostCore(std::shared_ptr<const HTTPTransport> transport, URLSessionConfiguration configuration)
      : transport_(std::move(transport)), configuration_(std::move(configuration)) {}

  void resume(const std::shared_ptr<HostDataTask>& task) {
    if (owner_.inForkedChild()) {
      task->endAtOnce(failedOutcome(task->request_, URLErrorCode::cannotLoadFromNetwork, kForkedChildRequest, false));
      return;
    }
    // While the process exits nothing starts and no handler runs for it: a
    // handler that starts a new task would otherwise recurse.
    if (processExiting()) return;
    auto expected = DataTask::State::suspended;
    if (!task->state_.compare_exchange_strong(expected, DataTask::State::running)) return;
    if (!enqueue({}, [core = shared_from_this(), task] { core->startAtTransport(task); }) && !processExiting()) {
      endRefused(*task);
    }
  }

  // Once the process exits a cancel changes nothing: a request under way
  // goes on to its own end.
  void cancel(const std::shared_ptr<HostDataTask>& task) {
    if (owner_.inForkedChild()) {
      task->endAtOnce(failedOutcome(task->request_, URLErrorCode::cancelled, {}, false));
      return;
    }
    if (processExiting()) return;
    auto state = task->state_.load();
    do {
      if (state == DataTask::State::completed || state == DataTask::State::canceling) return;
    } while (!task->state_.compare_exchange_weak(state, DataTask::State::canceling));
    if (!enqueue({}, [core = shared_from_this(), task] { core->end(task, URLErrorCode::cancelled); }) &&
        !processExiting()) {
      endRefused(*task);
    }
  }

  void schedule(Clock::time_point deadline, std::function<void()> work) { enqueue(deadline, std::move(work)); }

  [[nodiscard]] bool isDeliveryThread() const { return deliveryThread_.load() == std::this_thread::get_id(); }

  void setTimeoutCap(std::optional<double> seconds) { testTimeoutCap_.store(seconds.value_or(0)); }

  /// Stops the session for good: what is in flight completes as cancelled on
  /// the delivery thread, which then ends. Joins it unless called on it.
  void close() {
    // While the process exits, the exit hook stops the thread.
    if (owner_.inForkedChild() || processExiting()) return;
    std::thread thread;
    {
      const std::lock_guard lock(mutex_);
      if (closed_.exchange(true)) return;
      if (threadRunning_) {
        // After every start queued so far: they see the session closed.
        work_.emplace(Clock::time_point{}, Work{[core = shared_from_this()] { core->cancelEverything(); }});
        wake_.notify_one();
      }
      thread = std::move(thread_);
    }
    if (!thread.joinable()) return;
    if (thread.get_id() == std::this_thread::get_id()) {
      thread.detach();  // a completion handler is destroying its own session
    } else {
      thread.join();
    }
  }

  void beginExitStop(Clock::time_point drainUntil) override {
    const std::lock_guard lock(mutex_);
    if (exit_ == Exit::none) exit_ = Exit::draining;
    drainUntil_ = drainUntil;
    wake_.notify_one();
  }

  void finishExitStop(Clock::time_point deadline) override {
    if (isDeliveryThread()) return;  // exit() was called in a completion handler
    std::unique_lock lock(mutex_);
    awaitThreadAtExit(
        std::move(thread_), lock, threadEnded_, [this] { return !looping_; },
        [this] {
          exit_ = Exit::stopped;
          wake_.notify_one();
        },
        drainUntil_, deadline);
  }

  // What the host's transport reports through HTTPTransportRequest::sendStarting.
  bool sendStarting(HostDataTask& task) {
    // One that does not report went out when it was started.
    if (!transport_->reportsSendStart) return task.state() == DataTask::State::running;
    return task.reportSendStart();
  }

 private:
  // Work for the delivery thread. Once the process exits only what ends a
  // request under way runs: the host's outcome, the time-out.
  struct Work {
    std::function<void()> run;
    bool duringExit = false;
  };
  // At exit the thread first drains (the requests at the transport may still
  // end), then, past the budget, stops where it stands.
  enum class Exit { none, draining, stopped };

  // Queues work for the delivery thread, ahead of every timer when `at` is
  // the epoch; false when the session is closed, has no thread, or the
  // process exits and the work is not for then.
  bool enqueue(Clock::time_point at, std::function<void()> work, bool duringExit = false) {
    const std::lock_guard lock(mutex_);
    const bool exiting = exit_ != Exit::none || processExiting();
    if (closed_.load() || (exiting && (!duringExit || !looping_)) || !startThreadLocked()) return false;
    work_.emplace(at, Work{std::move(work), duringExit});
    wake_.notify_one();
    return true;
  }

  void endRefused(HostDataTask& task) {
    task.endAtOnce(closed_.load() ? failedOutcome(task.request_, URLErrorCode::cancelled, {}, false)
                                  : failedOutcome(task.request_, URLErrorCode::cannotLoadFromNetwork,
                                                  "no delivery thread could be started", false));
  }

  bool startThreadLocked() {
    if (threadStarted_) return threadRunning_;
    threadStarted_ = true;
    stopAtExit(weak_from_this());
    try {
      thread_ = std::thread([core = shared_from_this()] { core->run(); });
      threadRunning_ = true;
      looping_ = true;
    } catch (const std::system_error&) {
      return false;
    }
    return true;
  }

  void run() {
    deliveryThread_.store(std::this_thread::get_id());
    std::unique_lock lock(mutex_);
    while (!stopped_ && exit_ != Exit::stopped) {
      const bool draining = exit_ == Exit::draining;
      if (draining && (running_.empty() || Clock::now() >= drainUntil_)) break;
      if (work_.empty()) {
        if (draining) {
          wake_.wait_until(lock, drainUntil_);
        } else {
          wake_.wait(lock);
        }
        continue;
      }
      const auto next = work_.begin();
      if (next->first > Clock::now()) {
        wake_.wait_until(lock, draining ? std::min(next->first, drainUntil_) : next->first);
        continue;
      }
      Work work = std::move(next->second);
      work_.erase(next);
      const bool runs = exit_ == Exit::none || work.duringExit;
      lock.unlock();
      try {
        if (runs) work.run();
      } catch (...) {  // NOLINT(bugprone-empty-catch): a failing timer must not end the delivery thread
      }
      work.run = nullptr;  // releases what it captured before the next work runs
      lock.lock();
    }
    looping_ = false;
    std::multimap<Clock::time_point, Work> dropped;
    // At exit the work is left as it is: the process is going away.
    if (exit_ == Exit::none) dropped = std::exchange(work_, {});
    deliveryThread_.store(std::thread::id{});
    lock.unlock();
    threadEnded_.notify_all();
  }

  [[nodiscard]] double timeoutFor(const URLRequest& request) const {
    double seconds = request.timeoutInterval;
    if (!std::isfinite(seconds) || seconds <= 0) seconds = defaultTimeoutSeconds;
    if (configuration_.timeoutCap && *configuration_.timeoutCap > 0) {
      seconds = std::min(seconds, *configuration_.timeoutCap);
    }
    if (const double cap = testTimeoutCap_.load(); cap > 0) seconds = std::min(seconds, cap);
    return std::min(seconds, longestTimeoutSeconds);
  }

  // Delivery thread only, from here on.

  void startAtTransport(const std::shared_ptr<HostDataTask>& task) {
    if (task->state() != DataTask::State::running) return;  // the queued cancel ends it
    if (closed_.load()) {
      finish(task, failedOutcome(task->request_, URLErrorCode::cancelled, {}, false));
      return;
    }
    if (!transport_) {
      finish(task, failedOutcome(task->request_, URLErrorCode::cannotLoadFromNetwork,
                                 "the kit was built without libcurl, and the host installed no HTTPS transport "
                                 "before its first request: see installHTTPTransport",
                                 false));
      return;
    }
    // A transport that does not report when its requests go out counts as
    // sending at once: the request goes out now.
    if (!transport_->reportsSendStart && !task->reportSendStart()) {
      finish(task, failedOutcome(task->request_, URLErrorCode::cannotLoadFromNetwork, task->refusal(), false));
      return;
    }
    const URLRequest& original = task->request_;
    const std::weak_ptr<HostDataTask> weakTask = task;
    HTTPTransportRequest request{.identifier = task->identifier_,
                                 .method = original.httpMethod,
                                 .url = original.url.absoluteString(),
                                 .headerFields = original.allHTTPHeaderFields,
                                 .body = original.httpBody,
                                 .timeoutSeconds = timeoutFor(original),
                                 .allowsResend = original.allowsTransportResend,
                                 .sendStarting = [weakCore = weak_from_this(), weakTask] {
                                   const auto core = weakCore.lock();
                                   const auto reported = weakTask.lock();
                                   return core && reported && core->sendStarting(*reported);
                                 }};
    running_.emplace(task->identifier_, task);
    task->atTransport_ = true;
    const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                             std::chrono::duration<double>(request.timeoutSeconds));
    enqueue(
        deadline,
        [core = shared_from_this(), weakTask] {
          if (auto expired = weakTask.lock()) core->end(expired, URLErrorCode::timedOut);
        },
        true);
    HTTPTransportCompletion completion = [weakCore = weak_from_this(), weakTask](HTTPTransportOutcome outcome) {
      const auto core = weakCore.lock();
      if (!core) return;
      core->enqueue(
          {},
          [core, weakTask, outcome = std::move(outcome)]() mutable {
            if (auto done = weakTask.lock()) core->finish(done, core->outcomeOf(*done, std::move(outcome)));
          },
          true);
    };
    try {
      transport_->start(std::move(request), std::move(completion));
    } catch (const std::exception& failure) {
      finish(task, failedOutcome(original, URLErrorCode::unknown,
                                 std::string("the host's transport threw: ") + failure.what(), true));
    } catch (...) {
      finish(task, failedOutcome(original, URLErrorCode::unknown, "the host's transport threw", true));
    }
  }

  // Ends a task on the kit's side (cancelled, timed out) and tells the host,
  // unless the process exits: its transport may be half torn down by then.
  void end(const std::shared_ptr<HostDataTask>& task, URLErrorCode code) {
    const bool started = task->atTransport_;
    if (finish(task, failedOutcome(task->request_, code, {}, started)) && started && !processExiting()) {
      cancelAtTransport(task->identifier_);
    }
  }

  void cancelEverything() {
    auto running = std::move(running_);
    running_.clear();
    for (auto& [identifier, task] : running) end(task, URLErrorCode::cancelled);
    const std::lock_guard lock(mutex_);
    stopped_ = true;
  }

  void cancelAtTransport(std::uint64_t identifier) {
    if (!transport_->cancel) return;
    try {
      transport_->cancel(identifier);
    } catch (...) {  // NOLINT(bugprone-empty-catch): the task has ended; nothing is left to tell
    }
  }

  // Returns whether this call ended the task.
  bool finish(const std::shared_ptr<HostDataTask>& task, Outcome outcome) {
    running_.erase(task->identifier_);
    bool wasCancelled = false;
    {
      // A report of the send's start that runs the start hook ends first:
      // the hook's verdict and the task's end never cross.
      const std::lock_guard lock(task->sendStart_);
      if (!task->claim(wasCancelled)) return false;
    }
    // cancel() came first: whatever else ended the task, it ends cancelled.
    if (wasCancelled) outcome = failedOutcome(task->request_, URLErrorCode::cancelled, {}, task->atTransport_);
    task->complete(std::move(outcome));
    return true;
  }

  Outcome outcomeOf(HostDataTask& task, HTTPTransportOutcome outcome) const {
    const URLRequest& request = task.request_;
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
    if (outcome.body.size() > configuration_.maximumBodyBytes) {
      return Outcome{
          std::nullopt, std::move(response),
          makeTransportError(URLErrorCode::dataLengthExceedsMaximum,
                             bodyTooLargeDetail(configuration_.maximumBodyBytes), request.url.absoluteString(), true)};
    }
    return Outcome{std::move(outcome.body), std::move(response), nullptr};
  }

  const std::shared_ptr<const HTTPTransport> transport_;
  const URLSessionConfiguration configuration_;
  // A forked child has none of the session's threads.
  const ProcessOwner owner_;
  std::atomic<double> testTimeoutCap_{0};
  std::atomic<std::thread::id> deliveryThread_{};
  std::atomic<bool> closed_{false};

  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable threadEnded_;
  // Work by due time; work queued "now" carries the epoch, so it runs in the
  // order it came, ahead of timers.
  std::multimap<Clock::time_point, Work> work_;
  std::thread thread_;
  bool threadStarted_ = false;
  bool threadRunning_ = false;
  bool looping_ = false;  // the delivery thread has not left its loop
  bool stopped_ = false;
  Exit exit_ = Exit::none;
  Clock::time_point drainUntil_;

  // Delivery thread only: the tasks at the transport, kept alive until they end.
  std::unordered_map<std::uint64_t, std::shared_ptr<HostDataTask>> running_;
};

void HostDataTask::resume() { core_->resume(shared_from_this()); }
void HostDataTask::cancel() { core_->cancel(shared_from_this()); }

class HostTransportSession final : public URLSession {
 public:
  HostTransportSession(std::shared_ptr<const HTTPTransport> transport, URLSessionConfiguration configuration)
      : core_(std::make_shared<HostCore>(std::move(transport), std::move(configuration))) {}
  ~HostTransportSession() override { core_->close(); }
  HostTransportSession(const HostTransportSession&) = delete;
  HostTransportSession& operator=(const HostTransportSession&) = delete;

  std::shared_ptr<DataTask> dataTask(URLRequest request, CompletionHandler completion,
                                     RequestStartHook onRequestStart) override {
    return std::make_shared<HostDataTask>(core_, std::move(request), std::move(completion), std::move(onRequestStart));
  }
  // Trust, proxy and pins belong to the host's transport.
  void addTrustedCertificates(std::string /*pemFile*/) override {}
  void setProxy(std::optional<std::string> /*proxy*/) override {}
  void setPinnedPublicKeys(std::vector<std::string> /*pins*/) override {}
  [[nodiscard]] bool isDeliveryThread() const override { return core_->isDeliveryThread(); }
  void setTimeoutCapForTesting(std::optional<double> seconds) override { core_->setTimeoutCap(seconds); }
  void scheduleOnDeliveryThread(Clock::time_point deadline, std::function<void()> work) override {
    core_->schedule(deadline, std::move(work));
  }

 private:
  std::shared_ptr<HostCore> core_;
};

}  // namespace

std::unique_ptr<URLSession> makeHostTransportSession(std::shared_ptr<const HTTPTransport> transport,
                                                     URLSessionConfiguration configuration) {
  return std::make_unique<HostTransportSession>(std::move(transport), std::move(configuration));
}

}  // namespace orbisgrove::platform::http
