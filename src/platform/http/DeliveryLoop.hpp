// A session's delivery thread: one thread, started on first use, that runs
// the work queued for it and its timers, and between them waits in whatever
// its session's transport waits in (a socket poll, a condition variable).
// It stops for good at close(), and winds down when the process exits.
#pragma once

#include "platform/core/ProcessLifecycle.hpp"
#include "platform/http/DeliveryTimers.hpp"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace orbisgrove::platform::http {

/// What a delivery thread waits in between its turns.
class DeliveryWaiter {
 public:
  using Clock = std::chrono::steady_clock;

  virtual ~DeliveryWaiter() = default;
  DeliveryWaiter() = default;
  DeliveryWaiter(const DeliveryWaiter&) = delete;
  DeliveryWaiter& operator=(const DeliveryWaiter&) = delete;

  /// Makes what the thread waits in; false when it cannot. Before the
  /// thread starts, with the loop's lock held.
  virtual bool open() = 0;
  /// Ends the wait under way, or the next one, at once. With the loop's lock held.
  virtual void wake() = 0;
  /// On the delivery thread, first.
  virtual void threadStarted() = 0;
  /// On the delivery thread: waits until `until` at the latest, less when woken.
  virtual void wait(Clock::time_point until) = 0;
  /// The thread ended for good, not at exit: releases what open() made.
  virtual void release() = 0;
};

class DeliveryLoop : public ExitParticipant, public DeliveryTimers, public std::enable_shared_from_this<DeliveryLoop> {
 public:
  using Clock = std::chrono::steady_clock;

  /// `waiter` outlives the loop.
  explicit DeliveryLoop(DeliveryWaiter& waiter) : waiter_(waiter) {}
  ~DeliveryLoop() override = default;
  DeliveryLoop(const DeliveryLoop&) = delete;
  DeliveryLoop& operator=(const DeliveryLoop&) = delete;

  /// Queues `work` to run on the delivery thread after the work queued
  /// before it, starting the thread on first use. False, and `work` is
  /// dropped, when the loop is closed, has no thread, or the process exits;
  /// `duringExit` work (what ends a request under way) is still taken while
  /// the thread drains at exit.
  bool post(std::function<void()> work, bool duringExit = false);
  /// The same at `deadline`: a timer.
  bool postAt(Clock::time_point deadline, std::function<void()> work, bool duringExit = false);
  void schedule(Clock::time_point deadline, std::function<void()> work) override {
    (void)postAt(deadline, std::move(work));
  }

  [[nodiscard]] bool isDeliveryThread() const { return deliveryThread_.load() == std::this_thread::get_id(); }
  [[nodiscard]] bool closed() const { return closed_.load(); }
  /// The exit budget is spent: the delivery thread claims no completion any
  /// more and leaves its transport as it stands.
  [[nodiscard]] bool leftAtExit() const { return leftAtExit_.load(); }
  /// fork() copies the loop without its thread, and with its lock in
  /// whatever state another thread held it.
  [[nodiscard]] bool inForkedChild() const { return owner_.inForkedChild(); }

  /// Stops the loop for good: the work queued so far runs, then
  /// endEverything(), and the thread ends. Joins it unless called on it.
  void close();

  void beginExitStop(Clock::time_point drainUntil) override;
  void finishExitStop(Clock::time_point deadline) override;

 protected:
  // On the delivery thread.

  /// The work between two waits; returns when the next turn is due at the latest.
  virtual Clock::time_point turn() = 0;
  /// The process exits: what has not begun ends or is dropped, the rest may
  /// run on until the exit budget is spent.
  virtual void beginDrain() = 0;
  /// Nothing is under way: a thread that drains may end.
  [[nodiscard]] virtual bool drained() const = 0;
  /// After close(): ends every request that is still waiting or under way.
  virtual void endEverything() = 0;

 private:
  struct Work {
    std::function<void()> run;
    bool duringExit = false;
  };
  // close() sets `closing`; at exit the thread first drains (what is under
  // way may end), then, past the budget, stops where it stands.
  enum class Stop { none, closing, exitDrain, exitNow };

  bool takesLocked(bool duringExit);
  bool startThreadLocked();
  void wakeLocked();
  void run();
  // Runs the due timers; returns when the next one is due.
  Clock::time_point runDueTimers(bool draining);

  DeliveryWaiter& waiter_;
  const ProcessOwner owner_{};
  std::atomic<bool> closed_{false};
  std::atomic<bool> leftAtExit_{false};
  std::atomic<std::thread::id> deliveryThread_{};

  std::mutex mutex_;
  std::condition_variable threadEnded_;
  std::deque<Work> queue_;
  std::multimap<Clock::time_point, Work> timers_;
  Stop stop_ = Stop::none;
  Clock::time_point drainUntil_;
  std::thread thread_;
  bool threadStarted_ = false;
  bool threadRuns_ = false;   // it started, and open() succeeded
  bool looping_ = false;      // the thread has not left its loop
  bool workPending_ = false;  // queued since the loop last looked
  bool waiting_ = false;      // the loop waits
  bool wakeSent_ = false;     // and has been woken
};

}  // namespace orbisgrove::platform::http
