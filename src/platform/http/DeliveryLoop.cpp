#include "platform/http/DeliveryLoop.hpp"

#include <algorithm>
#include <system_error>
#include <utility>

namespace orbisgrove::platform::http {
namespace {

void runGuarded(const std::function<void()>& work) {
  try {
    work();
  } catch (...) {  // NOLINT(bugprone-empty-catch): failing work must not end the delivery thread
  }
}

}  // namespace

bool DeliveryLoop::post(std::function<void()> work, bool duringExit) {
  const std::lock_guard lock(mutex_);
  if (!takesLocked(duringExit)) return false;
  queue_.push_back(Work{std::move(work), duringExit});
  wakeLocked();
  return true;
}

bool DeliveryLoop::postAt(Clock::time_point deadline, std::function<void()> work, bool duringExit) {
  const std::lock_guard lock(mutex_);
  if (!takesLocked(duringExit)) return false;
  timers_.emplace(deadline, Work{std::move(work), duringExit});
  wakeLocked();
  return true;
}

bool DeliveryLoop::takesLocked(bool duringExit) {
  const bool exiting = stop_ == Stop::exitDrain || stop_ == Stop::exitNow || processExiting();
  if (closed_.load() || (exiting && (!duringExit || !looping_))) return false;
  return startThreadLocked();
}

bool DeliveryLoop::startThreadLocked() {
  if (threadStarted_) return threadRuns_;
  threadStarted_ = true;
  if (!waiter_.open()) return false;
  stopAtExit(weak_from_this());
  try {
    looping_ = true;
    thread_ = std::thread([loop = shared_from_this()] { loop->run(); });
  } catch (const std::system_error&) {
    looping_ = false;
    waiter_.release();
    return false;
  }
  threadRuns_ = true;
  return true;
}

void DeliveryLoop::wakeLocked() {
  // A loop that is not waiting looks at the queue before it next waits, so
  // only a waiting one needs a wake-up, and one per wait is enough: a
  // wake-up the loop does not need would cost it another turn.
  workPending_ = true;
  if (!looping_ || !waiting_ || wakeSent_) return;
  wakeSent_ = true;
  waiter_.wake();
}

void DeliveryLoop::close() {
  // A forked child has neither the delivery thread nor a lock it can trust;
  // while the process exits, the exit hook stops the thread.
  if (owner_.inForkedChild() || processExiting()) return;
  std::thread thread;
  {
    const std::lock_guard lock(mutex_);
    if (!closed_.exchange(true)) {
      if (stop_ == Stop::none) stop_ = Stop::closing;
      wakeLocked();
    }
    thread = std::move(thread_);
  }
  if (!thread.joinable()) return;
  if (thread.get_id() == std::this_thread::get_id()) {
    // A completion handler is destroying its own session: the thread ends
    // by itself once the handler has returned.
    thread.detach();
  } else {
    thread.join();
  }
}

void DeliveryLoop::beginExitStop(Clock::time_point drainUntil) {
  const std::lock_guard lock(mutex_);
  if (stop_ == Stop::none) stop_ = Stop::exitDrain;
  drainUntil_ = drainUntil;
  wakeLocked();
}

void DeliveryLoop::finishExitStop(Clock::time_point deadline) {
  if (isDeliveryThread()) return;  // exit() was called in a completion handler
  std::unique_lock lock(mutex_);
  // From the stop on the delivery thread claims no completion and leaves the
  // transport alone: the libraries' own exit-time cleanup follows this hook.
  awaitThreadAtExit(
      std::move(thread_), lock, threadEnded_, [this] { return !looping_; },
      [this] {
        leftAtExit_.store(true);
        stop_ = Stop::exitNow;
        wakeLocked();
      },
      drainUntil_, deadline);
}

void DeliveryLoop::run() {
  deliveryThread_.store(std::this_thread::get_id());
  waiter_.threadStarted();
  bool draining = false;
  Stop stop = Stop::none;
  std::unique_lock lock(mutex_);
  for (;;) {
    std::deque<Work> batch = std::exchange(queue_, {});
    workPending_ = false;
    waiting_ = false;
    wakeSent_ = false;
    stop = stop_;
    const Clock::time_point drainUntil = drainUntil_;
    lock.unlock();
    if (stop == Stop::exitNow) break;
    if (stop == Stop::exitDrain && !draining) {
      draining = true;
      beginDrain();
    }
    for (const Work& work : batch) {
      // Starts and cancels queued before the exit are dropped, without
      // their handlers; what ends a request under way still runs.
      if (!draining || work.duringExit) runGuarded(work.run);
      if (leftAtExit()) break;
    }
    batch.clear();  // releases what the work captured before the next turn
    if (stop == Stop::closing) {
      endEverything();
      break;
    }
    if (leftAtExit() || (draining && (drained() || Clock::now() >= drainUntil))) break;
    Clock::time_point next = turn();
    // A completion handler may still be running when the exit budget is
    // spent: once it returns, the transport is not touched again.
    if (leftAtExit()) break;
    next = std::min(next, runDueTimers(draining));
    if (draining) next = std::min(next, drainUntil);
    lock.lock();
    if (workPending_ || leftAtExit() || next <= Clock::now()) continue;
    waiting_ = true;
    lock.unlock();
    waiter_.wait(next);
    lock.lock();
  }

  if (!lock.owns_lock()) lock.lock();
  looping_ = false;
  // When the process exits, everything is left as it is: the exit hook must
  // return quickly, and nothing will run the work or use the transport again.
  const bool exiting = draining || stop == Stop::exitNow || leftAtExit();
  std::deque<Work> droppedWork;
  std::multimap<Clock::time_point, Work> droppedTimers;
  if (!exiting) {
    droppedWork = std::exchange(queue_, {});
    droppedTimers = std::exchange(timers_, {});
  }
  deliveryThread_.store(std::thread::id{});
  lock.unlock();
  if (!exiting) waiter_.release();
  threadEnded_.notify_all();
}

DeliveryLoop::Clock::time_point DeliveryLoop::runDueTimers(bool draining) {
  for (;;) {
    Work work;
    {
      const std::lock_guard lock(mutex_);
      if (timers_.empty()) return Clock::time_point::max();
      const auto next = timers_.begin();
      if (next->first > Clock::now()) return next->first;
      work = std::move(next->second);
      timers_.erase(next);
    }
    if (!draining || work.duringExit) runGuarded(work.run);
    if (leftAtExit()) return Clock::time_point::max();
  }
}

}  // namespace orbisgrove::platform::http
