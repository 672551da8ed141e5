#include "platform/store/StoreWriteQueue.hpp"

#include <system_error>
#include <utility>

namespace orbisgrove::platform {
namespace {

void runGuarded(const std::function<void()>& work) {
  if (!work) return;
  try {
    work();
  } catch (...) {  // NOLINT(bugprone-empty-catch): failing work must not end the queue's thread
  }
}

}  // namespace

StoreWriteQueue& StoreWriteQueue::shared() {
  // Never destroyed: the exit hook and a thread left behind at exit use it.
  static auto* const queue = new std::shared_ptr<StoreWriteQueue>(std::make_shared<StoreWriteQueue>());
  return **queue;
}

bool StoreWriteQueue::post(Work work) {
  const std::lock_guard lock(mutex_);
  if (owner_.inForkedChild() || !startThreadLocked()) return false;
  // Read only now, after the queue joined the exit hook's participants: a
  // write taken here is one the hook waits for.
  if (stop_ != Stop::none || processExiting()) return false;
  queue_.push_back(std::move(work));
  changed_.notify_all();
  return true;
}

bool StoreWriteQueue::startThreadLocked() {
  if (threadStarted_) return threadRuns_;
  threadStarted_ = true;
  stopAtExit(weak_from_this());
  try {
    looping_ = true;
    thread_ = std::thread([queue = shared_from_this()] { queue->run(); });
  } catch (const std::system_error&) {
    looping_ = false;
    return false;
  }
  threadRuns_ = true;
  return true;
}

void StoreWriteQueue::beginExitStop(Clock::time_point drainUntil) {
  const std::lock_guard lock(mutex_);
  if (stop_ == Stop::none) stop_ = Stop::exitDrain;
  drainUntil_ = drainUntil;
  changed_.notify_all();
}

void StoreWriteQueue::finishExitStop(Clock::time_point deadline) {
  // exit() called from the queue's own thread (a host's main-queue
  // dispatcher runs there): what is queued is abandoned.
  if (queueThread_.load() != std::this_thread::get_id()) {
    std::unique_lock lock(mutex_);
    awaitThreadAtExit(
        std::move(thread_), lock, changed_, [this] { return !looping_; },
        [this] {
          leftAtExit_.store(true);
          stop_ = Stop::exitNow;
        },
        drainUntil_, deadline);
  }
  std::deque<Work> abandoned;
  {
    const std::lock_guard lock(mutex_);
    abandoned = std::exchange(queue_, {});
  }
  for (const Work& work : abandoned) runGuarded(work.abandon);
}

void StoreWriteQueue::run() {
  queueThread_.store(std::this_thread::get_id());
  std::unique_lock lock(mutex_);
  for (;;) {
    const auto ready = [this] { return !queue_.empty() || stop_ != Stop::none; };
    if (stop_ == Stop::exitDrain) {
      changed_.wait_until(lock, drainUntil_, ready);
    } else {
      changed_.wait(lock, ready);
    }
    // At exit: done once nothing is left, or stopped where it stands once
    // the drain deadline has passed (the exit hook abandons the rest).
    if (stop_ == Stop::exitNow) break;
    if (stop_ == Stop::exitDrain && (queue_.empty() || Clock::now() >= drainUntil_)) break;
    if (queue_.empty()) continue;
    Work work = std::move(queue_.front());
    queue_.pop_front();
    lock.unlock();
    runGuarded(work.run);
    work = {};  // releases what the work captured before the next one
    lock.lock();
  }
  looping_ = false;
  lock.unlock();
  changed_.notify_all();
}

}  // namespace orbisgrove::platform
