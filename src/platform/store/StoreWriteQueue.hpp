// The thread that commits to the outbox's store for callers that must not
// wait for the disk (a UI thread): one thread for the process, started on
// first use, running what it is given in the order given. Not the delivery
// thread, which must never stall behind a sync of the store's log.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/core/ProcessLifecycle.hpp"

namespace orbisgrove::platform {

class StoreWriteQueue : public ExitParticipant, public std::enable_shared_from_this<StoreWriteQueue> {
 public:
  using Clock = std::chrono::steady_clock;

  /// One write. Exactly one of the two runs, once.
  struct Work {
    /// On the queue's thread.
    std::function<void()> run;
    /// Instead of `run`, when the process exits before the write could
    /// start: on the thread that exits, inside the exit budget.
    std::function<void()> abandon;
  };

  /// The process-wide queue; created on first use, never destroyed.
  static StoreWriteQueue& shared();

  StoreWriteQueue() = default;
  ~StoreWriteQueue() override = default;
  StoreWriteQueue(const StoreWriteQueue&) = delete;
  StoreWriteQueue& operator=(const StoreWriteQueue&) = delete;

  /// Queues `work` behind what was queued before it, starting the thread on
  /// first use. False, and neither half of `work` ever runs, in a child made
  /// by fork(), once the process has begun to exit, or when no thread can
  /// be started.
  bool post(Work work);

  /// The exit budget is spent: whatever the thread still finishes, it must
  /// not announce (the exit-time cleanup runs from now on).
  [[nodiscard]] bool leftAtExit() const { return leftAtExit_.load(); }

  /// At exit the thread goes on with what it was given, in order, until the
  /// drain deadline; what it has not started by then is abandoned.
  void beginExitStop(Clock::time_point drainUntil) override;
  void finishExitStop(Clock::time_point deadline) override;

 private:
  enum class Stop { none, exitDrain, exitNow };

  bool startThreadLocked();
  void run();

  const ProcessOwner owner_{};
  std::atomic<bool> leftAtExit_{false};
  std::atomic<std::thread::id> queueThread_{};
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Work> queue_;
  Stop stop_ = Stop::none;
  Clock::time_point drainUntil_;
  std::thread thread_;
  bool threadStarted_ = false;
  bool threadRuns_ = false;
  bool looping_ = false;
};

}  // namespace orbisgrove::platform
