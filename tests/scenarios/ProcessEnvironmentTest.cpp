// In a program of its own: ICU reads the locale and time zone from the
// environment once, at first use, so they must be set before anything else
// in the process formats a text.
#include "TestPrelude.hpp"

#include "platform/text/LocalizedText.hpp"
#include "platform/text/TextFormatting.hpp"

namespace orbisgrove::platform {
namespace {

TEST(ProcessEnvironmentTest, CurrentTextsAndCalendarFollowLocaleAndTimeZoneVariables) {
  ::setenv("LC_ALL", "de_DE.UTF-8", 1);
  ::setenv("TZ", "Europe/Berlin", 1);

  const LocalizedText current = LocalizedText::current();
  EXPECT_EQ(current.localeName(), "de_DE");
  EXPECT_EQ(current.decimal(1000), "1.000");
  EXPECT_EQ(current.fullDuration(3600), "1 Stunde");
  EXPECT_EQ(current.longDateTime(Date::fromSecondsSince1970(1798761600)), "1. Januar 2027 um 01:00:00 MEZ");

  // 2027-03-25 12:00 CET; Berlin's spring change makes 191 hours 8 days.
  const Date march25 = Date::fromSecondsSince1970(1805972400);
  EXPECT_EQ(wholeDaysBetween(march25, Date::fromSecondsSince1970(1805972400 + 190 * 3600.0)), 7);
  EXPECT_EQ(wholeDaysBetween(march25, Date::fromSecondsSince1970(1805972400 + 191 * 3600.0)), 8);
}

}  // namespace
}  // namespace orbisgrove::platform
