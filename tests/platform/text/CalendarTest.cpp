#include "platform/text/Calendar.hpp"

#include <gtest/gtest.h>

#include <limits>

namespace orbisgrove::platform {
namespace {

constexpr double kHour = 3600;
constexpr double kDay = 24 * kHour;
// 2027-01-10 12:00:00 UTC, far from any daylight-saving change.
constexpr double kJanuary10 = 1799582400;

Date at(double seconds) { return Date::fromSecondsSince1970(seconds); }

TEST(CalendarTest, CountsWholeDaysOnlyInBothDirections) {
  const Date start = at(kJanuary10);
  EXPECT_EQ(wholeDaysBetween(start, start, "UTC"), 0);
  EXPECT_EQ(wholeDaysBetween(start, at(kJanuary10 + 7 * kDay + 23 * kHour), "UTC"), 7);
  EXPECT_EQ(wholeDaysBetween(start, at(kJanuary10 + 8 * kDay), "UTC"), 8);
  EXPECT_EQ(wholeDaysBetween(start, at(kJanuary10 + 8 * kDay - 0.001), "UTC"), 7);
  // From a moment 30 hours ahead back to now: one whole day back.
  EXPECT_EQ(wholeDaysBetween(at(kJanuary10 + 30 * kHour), start, "UTC"), -1);
  EXPECT_EQ(wholeDaysBetween(start, at(kJanuary10 + 30 * kHour), "UTC"), 1);
  EXPECT_EQ(wholeDaysBetween(at(kJanuary10 + 36 * kHour), start, "UTC"), -1);
  // Crossing midnight is not a day.
  EXPECT_EQ(wholeDaysBetween(at(kJanuary10 + 11 * kHour), at(kJanuary10 + 13 * kHour), "UTC"), 0);
}

TEST(CalendarTest, DaysFollowTheWallClockAcrossDaylightSavingChanges) {
  // Berlin moves to summer time on 2027-03-28, so that day lasts 23 hours.
  // From 2027-03-25 12:00 CET (11:00 UTC):
  const double march25 = 1805972400;
  // to 2027-04-02 11:00 CEST, 7 days 23 hours later by the clock (190 h):
  EXPECT_EQ(wholeDaysBetween(at(march25), at(march25 + 190 * kHour), "Europe/Berlin"), 7);
  // to 2027-04-02 12:00 CEST, 8 days by the clock although only 191 h passed:
  EXPECT_EQ(wholeDaysBetween(at(march25), at(march25 + 191 * kHour), "Europe/Berlin"), 8);
  EXPECT_EQ(wholeDaysBetween(at(march25 + 191 * kHour), at(march25), "Europe/Berlin"), -8);
  EXPECT_EQ(wholeDaysBetween(at(march25), at(march25 + 191 * kHour), "UTC"), 7);

  // New York leaves summer time on 2027-11-07, a day of 25 hours. From
  // 2027-11-04 12:00 EDT (16:00 UTC), 192 hours end at 2027-11-12 11:00 EST,
  // 7 days 23 hours by the clock.
  const double november4 = 1825344000;
  EXPECT_EQ(wholeDaysBetween(at(november4), at(november4 + 192 * kHour), "America/New_York"), 7);
  EXPECT_EQ(wholeDaysBetween(at(november4), at(november4 + 193 * kHour), "America/New_York"), 8);
}

TEST(CalendarTest, GivesNothingWhenTheCalendarCannotCount) {
  const Date start = at(kJanuary10);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double infinity = std::numeric_limits<double>::infinity();
  EXPECT_EQ(wholeDaysBetween(at(nan), start, "UTC"), std::nullopt);
  EXPECT_EQ(wholeDaysBetween(start, at(nan), "UTC"), std::nullopt);
  EXPECT_EQ(wholeDaysBetween(start, at(infinity), "UTC"), std::nullopt);
  EXPECT_EQ(wholeDaysBetween(at(-infinity), start), std::nullopt);
  EXPECT_EQ(wholeDaysBetween(start, at(1e300), "UTC"), std::nullopt);
  EXPECT_EQ(wholeDaysBetween(start, at(-1e16), "UTC"), std::nullopt);
  EXPECT_EQ(wholeDaysBetween(start, start, "Nowhere/Atlantis"), std::nullopt);
  // Far but countable moments still count exactly.
  EXPECT_EQ(wholeDaysBetween(at(0), at(1e12), "UTC"), 11574074);
  EXPECT_EQ(wholeDaysBetween(at(1e12), at(0), "UTC"), -11574074);
}

}  // namespace
}  // namespace orbisgrove::platform
