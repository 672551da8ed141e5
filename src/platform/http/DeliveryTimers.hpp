// Work at a due time on a session's delivery thread: lets a client wait for
// a time without a thread of its own.
#pragma once

#include <chrono>
#include <functional>

namespace orbisgrove::platform {

class DeliveryTimers {
 public:
  virtual ~DeliveryTimers() = default;
  DeliveryTimers() = default;
  DeliveryTimers(const DeliveryTimers&) = delete;
  DeliveryTimers& operator=(const DeliveryTimers&) = delete;

  /// Runs `work` once on the delivery thread at or soon after `deadline`
  /// (at once when it has passed), after the timers due before it. Work
  /// still waiting when the session stops or the process exits is dropped
  /// without running.
  virtual void schedule(std::chrono::steady_clock::time_point deadline, std::function<void()> work) = 0;
};

/// The timers of URLSession::shared()'s delivery thread; the shared session
/// is made on first use, as URLSession::shared() makes it.
DeliveryTimers& sharedDeliveryTimers();

}  // namespace orbisgrove::platform
