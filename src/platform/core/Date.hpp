// A moment in time, as seconds since 1970-01-01 00:00:00 UTC, and the
// conversions from seconds held as a double to the standard clocks' types,
// which saturate where a plain cast would overflow.
#pragma once

#include <atomic>
#include <chrono>

namespace orbisgrove::platform {

struct Date {
  double secondsSince1970 = 0;

  /// The wall clock (moved by wallClockOffsetForTests).
  static Date now() noexcept;
  static Date fromSecondsSince1970(double seconds) noexcept { return Date{seconds}; }
  friend bool operator==(const Date&, const Date&) = default;
};

/// A test seam: seconds that Date::now() adds to the system clock. Zero
/// unless a test makes the wall clock jump (tests/support/TestSeams.hpp).
extern std::atomic<double> wallClockOffsetForTests;

/// The longest wait a conversion gives: a hundred years.
inline constexpr double kLongestRepresentableWait = 100.0 * 365 * 24 * 60 * 60;

/// `seconds` as a steady-clock duration: NaN and negative values give zero,
/// values past kLongestRepresentableWait (infinity too) give that.
std::chrono::steady_clock::duration saturatedWait(double seconds) noexcept;
/// `secondsSince1970` as a system-clock time point, clamped to a hundred
/// years either side of 1970; NaN gives 1970.
std::chrono::system_clock::time_point saturatedSystemTime(double secondsSince1970) noexcept;

}  // namespace orbisgrove::platform
