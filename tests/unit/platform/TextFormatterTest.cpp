// The built-in formatter writes what ICU writes for en_US: exact texts and
// day counts for chosen values here, from both (where ICU is built), and the
// same texts as ICU for generated moments, durations and counts.
#include "LocaleScope.hpp"
#include "TestPrelude.hpp"

#include "platform/text/TextFormatting.hpp"

#include <cmath>
#include <ctime>
#include <random>

#ifdef ORBISGROVE_WITH_ICU
#include "platform/text/Calendar.hpp"
#include "platform/text/LocalizedText.hpp"
#endif

namespace orbisgrove::platform {
namespace {

using testing::LocaleScope;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();
constexpr std::uint64_t kLargestCount = std::numeric_limits<std::uint64_t>::max();
// The farthest moment either formatter writes as a date: 2^53 milliseconds.
constexpr double kFarthest = 9007199254740.992;
#define NNBSP "\u202f"

// The formatters held to the English texts in `zone`: the built-in one and,
// where it is built, ICU's (whose default follows TZ only at first use).
std::vector<TextFormatter> formattersIn([[maybe_unused]] const std::string& zone) {
  std::vector<TextFormatter> formatters{builtInTextFormatter()};
#ifdef ORBISGROVE_WITH_ICU
  const LocalizedText icu("en_US", zone);
  formatters.push_back(
      {.reasonPhrase = localizedStringForStatusCode,
       .longDateTime = [icu](double seconds) { return icu.longDateTime(Date{seconds}); },
       .fullDuration = [icu](double seconds) { return icu.fullDuration(seconds); },
       .decimal = [icu](std::uint64_t value) { return icu.decimal(value); },
       .wholeDaysBetween = [zone](double from, double to) { return wholeDaysBetween(Date{from}, Date{to}, zone); }});
#endif
  return formatters;
}

TEST(TextFormatterTest, BuiltInAndIcuWriteTheseEnglishTexts) {
  // Moments in the zone of TZ: American zones by their abbreviation, others
  // by their offset, the local mean time of the 19th century to the second;
  // Julian dates before 15 October 1582; years of an era (1 BC reads "1").
  const std::tuple<const char*, double, const char*> moments[] = {
      {"UTC", 1796720400, "December 8, 2026 at 9:00:00" NNBSP "AM UTC"},
      {"Europe/Berlin", 1796716800, "December 8, 2026 at 9:00:00" NNBSP "AM GMT+1"},
      {"Europe/London", 1815000000, "July 7, 2027 at 11:40:00" NNBSP "PM GMT+1"},
      {"Europe/London", 1800000000, "January 15, 2027 at 8:00:00" NNBSP "AM GMT"},
      {"America/New_York", 1815000000, "July 7, 2027 at 6:40:00" NNBSP "PM EDT"},
      {"America/New_York", 1798761600, "December 31, 2026 at 7:00:00" NNBSP "PM EST"},
      {"America/Adak", 1800000000, "January 14, 2027 at 10:00:00" NNBSP "PM HAST"},
      {"Pacific/Honolulu", 1800000000, "January 14, 2027 at 10:00:00" NNBSP "PM HST"},
      {"Asia/Shanghai", 1800000000, "January 15, 2027 at 4:00:00" NNBSP "PM GMT+8"},
      {"Asia/Kolkata", 1796716800, "December 8, 2026 at 1:30:00" NNBSP "PM GMT+5:30"},
      {"America/New_York", -3000000000, "December 7, 1874 at 1:43:58" NNBSP "PM GMT-4:56:02"},
      {"UTC", -12219292800, "October 15, 1582 at 12:00:00" NNBSP "AM UTC"},
      {"UTC", -12219292801, "October 4, 1582 at 11:59:59" NNBSP "PM UTC"},
      {"UTC", -62135596801, "January 2, 1 at 11:59:59" NNBSP "PM UTC"},
      {"UTC", -0.5, "December 31, 1969 at 11:59:59" NNBSP "PM UTC"},
      {"UTC", kFarthest, "October 12, 287396 at 8:59:00" NNBSP "AM UTC"},
      {"UTC", -kFarthest, "January 16, 283452 at 3:00:59" NNBSP "PM UTC"},
      {"UTC", kNaN, "nan"},
      {"UTC", -kInfinity, "-inf"},
      {"UTC", 1e300, "1e+300"}};
  // Rounding to the millisecond happens before the split into units, so no
  // unit overflows; a negative value too small to reach a millisecond is no
  // period at all; values that are no period give nothing.
  const std::pair<double, std::optional<std::string>> durations[] = {
      {3600, "1 hour"},
      {90.25, "1 minute, 30.25 seconds"},
      {93784, "1 day, 2 hours, 3 minutes, 4 seconds"},
      {86401, "1 day, 1 second"},
      {172800, "2 days"},
      {1, "1 second"},
      {0, "0 seconds"},
      {-0.0, "0 seconds"},
      {-0.0004, "0 seconds"},
      {1.5, "1.5 seconds"},
      {0.1 + 0.2, "0.3 seconds"},
      {59.9999, "1 minute"},
      {3599.9996, "1 hour"},
      {86'400'000, "1,000 days"},
      {kFarthest, "104,249,991 days, 8 hours, 59 minutes, 0.992 seconds"},
      {-0.001, std::nullopt},
      {-1, std::nullopt},
      {kNaN, std::nullopt},
      {kInfinity, std::nullopt},
      {-kInfinity, std::nullopt},
      {1e300, std::nullopt}};
  const std::pair<std::uint64_t, const char*> counts[] = {
      {0, "0"}, {999, "999"}, {1000, "1,000"}, {1234567, "1,234,567"}, {kLargestCount, "18,446,744,073,709,551,615"}};
  for (const auto& [zone, seconds, text] : moments) {
    const LocaleScope scope("en_US", zone);
    for (const auto& formatter : formattersIn(zone)) EXPECT_EQ(formatter.longDateTime(seconds), text) << seconds;
  }
  const LocaleScope scope("en_US", "UTC");
  for (const TextFormatter& formatter : formattersIn("UTC")) {
    for (const auto& [seconds, text] : durations) EXPECT_EQ(formatter.fullDuration(seconds), text) << seconds;
    for (const auto& [value, text] : counts) EXPECT_EQ(formatter.decimal(value), text) << value;
    EXPECT_EQ(formatter.reasonPhrase(429), "too many requests");
    EXPECT_EQ(formatter.reasonPhrase(-1), "unknown error");
  }
}

// By the wall clock of the zone in TZ: Berlin moves to summer time on
// 2027-03-28, a day of 23 hours; New York leaves it on 2027-11-07, a day of 25.
TEST(TextFormatterTest, BuiltInAndIcuCountWholeDaysByTheWallClockInBothDirections) {
  constexpr double kHour = 3600;
  constexpr double kDay = 24 * kHour;
  constexpr double kJanuary10 = 1799582400;  // 2027-01-10 12:00:00 UTC
  constexpr double kMarch25 = 1805972400;    // 2027-03-25 12:00 CET
  constexpr double kNovember4 = 1825344000;  // 2027-11-04 12:00 EDT
  const std::tuple<const char*, double, double, std::optional<std::int64_t>> cases[] = {
      {"UTC", kJanuary10, kJanuary10, 0},
      {"UTC", kJanuary10, kJanuary10 + 7 * kDay + 23 * kHour, 7},
      {"UTC", kJanuary10, kJanuary10 + 8 * kDay, 8},
      {"UTC", kJanuary10, kJanuary10 + 8 * kDay - 0.001, 7},
      {"UTC", kJanuary10 + 30 * kHour, kJanuary10, -1},
      {"UTC", kJanuary10, kJanuary10 + 30 * kHour, 1},
      {"UTC", kJanuary10 + 36 * kHour, kJanuary10, -1},
      {"UTC", kJanuary10 + 11 * kHour, kJanuary10 + 13 * kHour, 0},  // crossing midnight is not a day
      // 190 hours end at 11:00 the 8th day after, 191 hours at 12:00.
      {"Europe/Berlin", kMarch25, kMarch25 + 190 * kHour, 7},
      {"Europe/Berlin", kMarch25, kMarch25 + 191 * kHour, 8},
      {"Europe/Berlin", kMarch25 + 191 * kHour, kMarch25, -8},
      {"UTC", kMarch25, kMarch25 + 191 * kHour, 7},
      // 192 hours end at 11:00 the 8th day after.
      {"America/New_York", kNovember4, kNovember4 + 192 * kHour, 7},
      {"America/New_York", kNovember4, kNovember4 + 193 * kHour, 8},
      // Far but countable moments still count exactly; the calendar cannot count the rest.
      {"UTC", 0, 1e12, 11574074},
      {"UTC", 1e12, 0, -11574074},
      {"UTC", kNaN, kJanuary10, std::nullopt},
      {"UTC", kJanuary10, kNaN, std::nullopt},
      {"UTC", kJanuary10, kInfinity, std::nullopt},
      {"UTC", -kInfinity, kJanuary10, std::nullopt},
      {"UTC", kJanuary10, 1e300, std::nullopt},
      {"UTC", kJanuary10, -1e16, std::nullopt}};
  for (const auto& [zone, from, to, days] : cases) {
    const LocaleScope scope("en_US", zone);
    for (const auto& formatter : formattersIn(zone))
      EXPECT_EQ(formatter.wholeDaysBetween(from, to), days) << zone << " " << from << " to " << to;
  }
#ifdef ORBISGROVE_WITH_ICU
  EXPECT_EQ(wholeDaysBetween(Date{kJanuary10}, Date{kJanuary10}, "Nowhere/Atlantis"), std::nullopt);
#endif
}

#ifdef ORBISGROVE_WITH_ICU
// Moments where the zone's offset changes, found through the C library,
// a second and an hour either side of each: 1971 to 2100.
std::vector<double> momentsAroundOffsetChanges() {
  std::vector<double> moments;
  long previous = 0;
  for (std::time_t at = 31536000; at < 4102444800; at += 86400) {
    std::tm local{};
    ::localtime_r(&at, &local);
    if (at != 31536000 && local.tm_gmtoff != previous) {
      // The change lies within the day before: find its second.
      std::time_t before = at - 86400;
      std::time_t after = at;
      while (after - before > 1) {
        const std::time_t middle = before + (after - before) / 2;
        std::tm probe{};
        ::localtime_r(&middle, &probe);
        (probe.tm_gmtoff == previous ? before : after) = middle;
      }
      for (const double offset : {-3600.0, -1.0, 0.0, 1.0, 3600.0})
        moments.push_back(static_cast<double>(after) + offset);
    }
    previous = local.tm_gmtoff;
  }
  return moments;
}

TEST(TextFormatterTest, BuiltInAgreesWithIcuForEnglishOnGeneratedValues) {
  const TextFormatter builtIn = builtInTextFormatter();
  std::mt19937_64 random(20261208);
  const auto uniform = [&](double low, double high) {
    return std::uniform_real_distribution<double>(low, high)(random);
  };
  // Zones with daylight saving time, fixed and odd offsets, and American names.
  for (const char* zone :
       {"UTC", "Europe/Berlin", "Europe/London", "America/New_York", "America/Chicago", "America/Denver",
        "America/Phoenix", "America/Los_Angeles", "America/Anchorage", "America/Adak", "Pacific/Honolulu",
        "America/Halifax", "America/St_Johns", "Asia/Kolkata", "Asia/Kathmandu", "Australia/Sydney", "Asia/Tokyo"}) {
    const LocaleScope scope("en_US", zone);
    const LocalizedText icu("en_US", zone);
    std::vector<double> moments = momentsAroundOffsetChanges();
    for (int i = 0; i < 300; ++i) moments.push_back(std::floor(uniform(31536000, 4102444800)) + (i % 2) * 0.75);
    for (const double moment : moments) {
      ASSERT_EQ(builtIn.longDateTime(moment), icu.longDateTime(Date{moment})) << zone << " " << moment;
      const double later = moment + uniform(-40 * 86400.0, 40 * 86400.0);
      ASSERT_EQ(builtIn.wholeDaysBetween(moment, later), wholeDaysBetween(Date{moment}, Date{later}, zone))
          << zone << " " << moment << " to " << later;
    }
  }
  // Over the whole range in UTC: the Julian calendar before 1582, years of
  // the era before the first.
  const LocaleScope utc("en_US", "UTC");
  const LocalizedText icu("en_US", "UTC");
  for (int i = 0; i < 2000; ++i) {
    const double moment = uniform(-kFarthest, kFarthest);
    ASSERT_EQ(builtIn.longDateTime(moment), icu.longDateTime(Date{moment})) << moment;
  }
  // Durations from none to years, whole and with odd fractions; counts of
  // every magnitude up to 2^64-1.
  for (int i = 0; i < 3000; ++i) {
    const double magnitude = std::pow(10.0, uniform(-4, 9));
    const double seconds = i % 3 == 0 ? std::floor(magnitude) : magnitude;
    ASSERT_EQ(builtIn.fullDuration(seconds), icu.fullDuration(seconds)) << seconds;
    const std::uint64_t count = random() >> (random() % 64);
    ASSERT_EQ(builtIn.decimal(count), icu.decimal(count)) << count;
  }
  EXPECT_EQ(builtIn.decimal(kLargestCount), icu.decimal(kLargestCount));
}
#endif

}  // namespace
}  // namespace orbisgrove::platform
