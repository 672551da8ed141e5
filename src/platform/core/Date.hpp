// A moment in time, as seconds since 1970-01-01 00:00:00 UTC.
#pragma once

namespace orbisgrove::platform {

struct Date {
  double secondsSince1970 = 0;

  static Date now() noexcept;
  static Date fromSecondsSince1970(double seconds) noexcept { return Date{seconds}; }
  friend bool operator==(const Date&, const Date&) = default;
};

}  // namespace orbisgrove::platform
