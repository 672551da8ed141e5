// Whole days between two moments, by the wall clock of a time zone.
#include "TestPrelude.hpp"

#include "platform/text/Calendar.hpp"

namespace orbisgrove::platform {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();
constexpr double kHour = 3600;
constexpr double kDay = 24 * kHour;
// 2027-01-10 12:00:00 UTC, far from any daylight-saving change.
constexpr double kJanuary10 = 1799582400;
// 2027-03-25 12:00 CET: Berlin moves to summer time on 2027-03-28, a day of 23 hours.
constexpr double kMarch25 = 1805972400;
// 2027-11-04 12:00 EDT: New York leaves summer time on 2027-11-07, a day of 25 hours.
constexpr double kNovember4 = 1825344000;

TEST(CalendarTest, CountsWholeDaysByTheWallClockInBothDirections) {
  const std::tuple<double, double, const char*, std::optional<std::int64_t>> cases[] = {
      {kJanuary10, kJanuary10, "UTC", 0},
      {kJanuary10, kJanuary10 + 7 * kDay + 23 * kHour, "UTC", 7},
      {kJanuary10, kJanuary10 + 8 * kDay, "UTC", 8},
      {kJanuary10, kJanuary10 + 8 * kDay - 0.001, "UTC", 7},
      {kJanuary10 + 30 * kHour, kJanuary10, "UTC", -1},
      {kJanuary10, kJanuary10 + 30 * kHour, "UTC", 1},
      {kJanuary10 + 36 * kHour, kJanuary10, "UTC", -1},
      {kJanuary10 + 11 * kHour, kJanuary10 + 13 * kHour, "UTC", 0},  // crossing midnight is not a day
      // 190 hours end at 11:00 the 8th day after, 191 hours at 12:00.
      {kMarch25, kMarch25 + 190 * kHour, "Europe/Berlin", 7},
      {kMarch25, kMarch25 + 191 * kHour, "Europe/Berlin", 8},
      {kMarch25 + 191 * kHour, kMarch25, "Europe/Berlin", -8},
      {kMarch25, kMarch25 + 191 * kHour, "UTC", 7},
      // 192 hours end at 11:00 the 8th day after.
      {kNovember4, kNovember4 + 192 * kHour, "America/New_York", 7},
      {kNovember4, kNovember4 + 193 * kHour, "America/New_York", 8},
      // Far but countable moments still count exactly.
      {0, 1e12, "UTC", 11574074},
      {1e12, 0, "UTC", -11574074},
      // The calendar cannot count these.
      {kNaN, kJanuary10, "UTC", std::nullopt},
      {kJanuary10, kNaN, "UTC", std::nullopt},
      {kJanuary10, kInfinity, "UTC", std::nullopt},
      {-kInfinity, kJanuary10, "", std::nullopt},
      {kJanuary10, 1e300, "UTC", std::nullopt},
      {kJanuary10, -1e16, "UTC", std::nullopt},
      {kJanuary10, kJanuary10, "Nowhere/Atlantis", std::nullopt},
  };
  for (const auto& [from, to, zone, days] : cases) {
    EXPECT_EQ(wholeDaysBetween(Date::fromSecondsSince1970(from), Date::fromSecondsSince1970(to), zone), days)
        << from << " to " << to << " in " << zone;
  }
}

}  // namespace
}  // namespace orbisgrove::platform
