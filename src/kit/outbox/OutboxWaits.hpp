// Waits as the outbox follows them: stored as (when set, how long), and once
// seen in this process followed on the monotonic clock, so that a wall clock
// set back or forward neither stretches nor cuts them.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <set>

#include "platform/store/OutboxStore.hpp"

namespace orbisgrove {

class OutboxWaits {
 public:
  using Clock = std::chrono::steady_clock;
  /// The key of the outbox-wide hold (entry ids start at 1).
  static constexpr std::int64_t kHold = 0;

  /// When the wait `wait` of `key` ends on the monotonic clock. A wait seen
  /// for the first time counts from when it was set, or wholly from now when
  /// the wall clock reads earlier than that; a wait longer than a day, or
  /// not a number, counts as a day or as none.
  Clock::time_point end(std::int64_t key, const platform::StoredWait& wait);
  /// Forgets the waits of keys other than the hold and `kept`.
  void keepOnly(const std::set<std::int64_t>& kept);

  /// The wall-clock time (seconds since 1970) that the monotonic `when` stands for now.
  static double wallTimeOf(Clock::time_point when);

 private:
  struct Seen {
    platform::StoredWait wait;
    Clock::time_point end;
  };
  std::map<std::int64_t, Seen> seen_;
};

}  // namespace orbisgrove
