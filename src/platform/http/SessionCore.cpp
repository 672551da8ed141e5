#include "platform/http/SessionCore.hpp"

#include "platform/core/ProcessLifecycle.hpp"
#include "platform/http/NetworkTestSeams.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

namespace orbisgrove::platform::http {
namespace {

using Clock = std::chrono::steady_clock;

constexpr double defaultTimeoutSeconds = 60;
// A request cannot ask for more than a day.
constexpr double longestTimeoutSeconds = 24.0 * 60 * 60;

Outcome cancelledOutcome(const URLRequest& request, bool reached) {
  return failedOutcome(request, URLErrorCode::cancelled, {}, reached);
}

std::string originOf(const URL& url) {
  std::string origin = url.scheme();
  origin += "://";
  origin += url.host();
  if (url.port()) {
    origin += ':';
    origin += std::to_string(*url.port());
  }
  return origin;
}

}  // namespace

SessionCore::SessionCore(std::unique_ptr<SessionBackend> backend, URLSessionConfiguration configuration)
    : DeliveryLoop(*backend), backend_(std::move(backend)), configuration_(std::move(configuration)) {
  backend_->attach(*this);
}

std::shared_ptr<SessionDataTask> SessionCore::makeTask(URLRequest request, URLSession::CompletionHandler completion,
                                                       URLSession::RequestStartHook onRequestStart) {
  return std::make_shared<SessionDataTask>(self(), std::move(request), std::move(completion),
                                           std::move(onRequestStart));
}

void SessionCore::resume(SessionDataTask& task) {
  if (inForkedChild()) {
    task.endAtOnce(failedOutcome(task.request(), URLErrorCode::cannotLoadFromNetwork, kForkedChildRequest, false));
    return;
  }
  // While the process exits nothing starts and no handler runs for it: a
  // handler that starts a new task on failure would otherwise recurse here,
  // on whichever thread called exit().
  if (processExiting() || !task.beginRunning()) return;
  if (const std::string* problem = backend_->unusable()) {
    task.endAtOnce(failedOutcome(task.request(), URLErrorCode::cannotLoadFromNetwork, *problem, false));
    return;
  }
  if (!post([core = self(), task = task.shared_from_this()] { core->arrive(task); }) && !processExiting()) {
    endRefused(task);
  }
}

void SessionCore::cancel(SessionDataTask& task) {
  if (inForkedChild()) {
    task.endAtOnce(cancelledOutcome(task.request(), false));
    return;
  }
  if (processExiting() || !task.beginCanceling()) return;
  if (!post([core = self(), task = task.shared_from_this()] { core->cancelHere(task); }) && !processExiting()) {
    task.endAtOnce(cancelledOutcome(task.request(), false));
  }
}

void SessionCore::endRefused(SessionDataTask& task) {
  // No delivery thread any more: the task ends here, as one cancelled.
  task.endAtOnce(closed() ? cancelledOutcome(task.request(), false)
                          : failedOutcome(task.request(), URLErrorCode::cannotLoadFromNetwork,
                                          "no delivery thread could be started", false));
}

void SessionCore::addTrustedCertificates(const std::string& pemFile) {
  if (!inForkedChild()) backend_->addTrustedCertificates(pemFile);
}
void SessionCore::setProxy(std::optional<std::string> proxy) { backend_->setProxy(std::move(proxy)); }
void SessionCore::setPinnedPublicKeys(const std::vector<std::string>& pins) { backend_->setPinnedPublicKeys(pins); }

double SessionCore::timeoutSeconds(const URLRequest& request) const {
  double seconds = request.timeoutInterval;
  if (!std::isfinite(seconds) || seconds <= 0) seconds = defaultTimeoutSeconds;
  if (configuration_.timeoutCap && *configuration_.timeoutCap > 0) {
    seconds = std::min(seconds, *configuration_.timeoutCap);
  }
  if (const double cap = requestTimeoutCapForTests.load(); cap > 0) seconds = std::min(seconds, cap);
  return std::min(seconds, longestTimeoutSeconds);
}

// Delivery thread only, from here on.

bool SessionCore::end(const std::shared_ptr<SessionDataTask>& task, Outcome outcome, bool reached) {
  if (leftAtExit()) return false;
  bool ended = false;
  bool wasCancelled = false;
  if (task->claimAfterSendStart(wasCancelled)) {
    // cancel() came first: whatever else ended the task, it ends cancelled.
    task->complete(wasCancelled ? cancelledOutcome(task->request(), reached) : std::move(outcome));
    ended = true;
  }
  if (std::exchange(task->admitted, false)) {
    running_.erase(task->taskIdentifier());
    released(*task);
  }
  return ended;
}

void SessionCore::arrive(const std::shared_ptr<SessionDataTask>& task) {
  // Cancelled before the thread got to it: the queued cancel ends it.
  if (task->state() != DataTask::State::running) return;
  if (closed()) {
    end(task, cancelledOutcome(task->request(), false), false);
    return;
  }
  // The timeout begins when the task reaches the line.
  task->deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                      std::chrono::duration<double>(timeoutSeconds(task->request())));
  task->origin = originOf(task->request().url);
  Line& line = lines_[task->origin];
  if (line.waiting.empty() && line.admitted < backend_->admittedPerOrigin()) {
    startTransfer(task);
    return;
  }
  // One that waits longer than its timeout ends then, without a connection.
  task->waitingEntry = waitingDeadlines_.emplace(task->deadline, task.get());
  line.waiting.push_back(task);
}

void SessionCore::startTransfer(const std::shared_ptr<SessionDataTask>& task) {
  if (task->state() != DataTask::State::running || draining_) return;
  if (backend_->start(task)) {
    task->admitted = true;
    running_.emplace(task->taskIdentifier(), task);
    ++lines_[task->origin].admitted;
    return;
  }
  const auto found = lines_.find(task->origin);
  if (found != lines_.end() && found->second.admitted == 0 && found->second.waiting.empty()) lines_.erase(found);
}

void SessionCore::cancelHere(const std::shared_ptr<SessionDataTask>& task) {
  if (leftAtExit()) return;
  if (task->admitted) {
    backend_->cancel(task);
  } else {
    // A waiting task stays in its line, which passes over it once completed.
    end(task, cancelledOutcome(task->request(), false), false);
  }
}

void SessionCore::admitWaiting(Line& line) {
  while (line.admitted < backend_->admittedPerOrigin() && !line.waiting.empty()) {
    const std::shared_ptr<SessionDataTask> task = std::move(line.waiting.front());
    line.waiting.pop_front();
    if (task->waitingEntry) waitingDeadlines_.erase(*std::exchange(task->waitingEntry, std::nullopt));
    if (task->state() == DataTask::State::running) startTransfer(task);
  }
}

void SessionCore::released(const SessionDataTask& task) {
  const auto found = lines_.find(task.origin);
  if (found == lines_.end()) return;
  Line& line = found->second;
  if (line.admitted > 0) --line.admitted;
  admitWaiting(line);
  if (line.admitted == 0 && line.waiting.empty()) lines_.erase(task.origin);
}

Clock::time_point SessionCore::expireWaiting() {
  const auto now = Clock::now();
  while (!waitingDeadlines_.empty() && waitingDeadlines_.begin()->first <= now) {
    // The task stays in its line, which passes over it once completed.
    const std::shared_ptr<SessionDataTask> task = waitingDeadlines_.begin()->second->shared_from_this();
    waitingDeadlines_.erase(waitingDeadlines_.begin());
    task->waitingEntry.reset();
    if (task->state() != DataTask::State::running) continue;
    end(task,
        failedOutcome(task->request(), URLErrorCode::timedOut,
                      "the request waited for a connection longer than its timeout", false),
        false);
  }
  return waitingDeadlines_.empty() ? Clock::time_point::max() : waitingDeadlines_.begin()->first;
}

Clock::time_point SessionCore::turn() {
  const Clock::time_point wanted = backend_->perform();
  return std::min(wanted, expireWaiting());
}

void SessionCore::beginDrain() {
  draining_ = true;
  waitingDeadlines_.clear();
  for (auto& [origin, line] : lines_) line.waiting.clear();
  backend_->beginDrain();
}

void SessionCore::endEverything() {
  waitingDeadlines_.clear();
  auto lines = std::move(lines_);
  lines_.clear();
  for (auto& [origin, line] : lines) {
    for (const auto& task : line.waiting) end(task, cancelledOutcome(task->request(), false), false);
  }
  auto running = std::move(running_);
  running_.clear();
  for (const auto& [identifier, task] : running) backend_->cancel(task);
}

}  // namespace orbisgrove::platform::http
