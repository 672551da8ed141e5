#include "platform/text/LocalizedText.hpp"

#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <thread>
#include <vector>

namespace orbisgrove::platform {
namespace {

// 2027-01-01 00:00:00 UTC.
constexpr double kNewYear2027 = 1798761600.0;
// ICU's English time patterns put a narrow no-break space before AM/PM.
#define NNBSP "\u202f"

TEST(LocalizedTextTest, DecimalGroupsDigitsByLocaleOverTheWholeUnsignedRange) {
  const LocalizedText english("en_US");
  EXPECT_EQ(english.decimal(0), "0");
  EXPECT_EQ(english.decimal(999), "999");
  EXPECT_EQ(english.decimal(1000), "1,000");
  EXPECT_EQ(english.decimal(9223372036854775808ULL), "9,223,372,036,854,775,808");
  EXPECT_EQ(english.decimal(std::numeric_limits<std::uint64_t>::max()), "18,446,744,073,709,551,615");

  const LocalizedText german("de_DE");
  EXPECT_EQ(german.decimal(1000), "1.000");
  EXPECT_EQ(german.decimal(std::numeric_limits<std::uint64_t>::max()), "18.446.744.073.709.551.615");
}

TEST(LocalizedTextTest, FullDurationNamesEveryNeededUnit) {
  const LocalizedText english("en_US");
  EXPECT_EQ(english.fullDuration(3600), "1 hour");
  EXPECT_EQ(english.fullDuration(60), "1 minute");
  EXPECT_EQ(english.fullDuration(90), "1 minute, 30 seconds");
  EXPECT_EQ(english.fullDuration(93784), "1 day, 2 hours, 3 minutes, 4 seconds");
  EXPECT_EQ(english.fullDuration(86401), "1 day, 1 second");
  EXPECT_EQ(english.fullDuration(172800), "2 days");
  EXPECT_EQ(english.fullDuration(1), "1 second");
  EXPECT_EQ(english.fullDuration(0), "0 seconds");
  EXPECT_EQ(english.fullDuration(-0.0), "0 seconds");

  const LocalizedText german("de_DE");
  EXPECT_EQ(german.fullDuration(3600), "1 Stunde");
  EXPECT_EQ(german.fullDuration(90), "1 Minute, 30 Sekunden");
  EXPECT_EQ(german.fullDuration(93784), "1 Tag, 2 Stunden, 3 Minuten und 4 Sekunden");
}

TEST(LocalizedTextTest, FullDurationKeepsFractionsOfASecondToTheMillisecond) {
  const LocalizedText english("en_US");
  EXPECT_EQ(english.fullDuration(0.5), "0.5 seconds");
  EXPECT_EQ(english.fullDuration(90.25), "1 minute, 30.25 seconds");
  EXPECT_EQ(english.fullDuration(0.1 + 0.2), "0.3 seconds");
  // Rounding happens before the split into units, so no unit overflows.
  EXPECT_EQ(english.fullDuration(59.9999), "1 minute");
  EXPECT_EQ(english.fullDuration(3599.9996), "1 hour");
  // A negative value too small to reach a millisecond is no period at all.
  EXPECT_EQ(english.fullDuration(-0.0004), "0 seconds");
  EXPECT_EQ(LocalizedText("de_DE").fullDuration(30.5), "30,5 Sekunden");
}

TEST(LocalizedTextTest, FullDurationGivesNothingForValuesThatAreNoPeriod) {
  const LocalizedText english("en_US");
  EXPECT_EQ(english.fullDuration(std::numeric_limits<double>::quiet_NaN()), std::nullopt);
  EXPECT_EQ(english.fullDuration(std::numeric_limits<double>::infinity()), std::nullopt);
  EXPECT_EQ(english.fullDuration(-std::numeric_limits<double>::infinity()), std::nullopt);
  EXPECT_EQ(english.fullDuration(-1), std::nullopt);
  EXPECT_EQ(english.fullDuration(-0.001), std::nullopt);
  EXPECT_EQ(english.fullDuration(1e300), std::nullopt);
  EXPECT_EQ(english.fullDuration(1e13), std::nullopt);
  // The largest period still written: 2^53 milliseconds.
  EXPECT_EQ(english.fullDuration(9007199254740.992), "104,249,991 days, 8 hours, 59 minutes, 0.992 seconds");
}

TEST(LocalizedTextTest, LongDateTimeFollowsLocaleAndTimeZone) {
  const Date newYear = Date::fromSecondsSince1970(kNewYear2027);
  EXPECT_EQ(LocalizedText("en_US", "UTC").longDateTime(newYear), "January 1, 2027 at 12:00:00" NNBSP "AM UTC");
  EXPECT_EQ(LocalizedText("en_US", "America/New_York").longDateTime(newYear),
            "December 31, 2026 at 7:00:00" NNBSP "PM EST");
  EXPECT_EQ(LocalizedText("de_DE", "Europe/Berlin").longDateTime(newYear), "1. Januar 2027 um 01:00:00 MEZ");
  EXPECT_EQ(LocalizedText("de_DE", "UTC").longDateTime(Date::fromSecondsSince1970(0.75)),
            "1. Januar 1970 um 00:00:00 UTC");
  // Summer time shows in the zone's name.
  EXPECT_EQ(
      LocalizedText("de_DE", "Europe/Berlin").longDateTime(Date::fromSecondsSince1970(kNewYear2027 + 181 * 86400.0)),
      "1. Juli 2027 um 02:00:00 MESZ");
}

TEST(LocalizedTextTest, LongDateTimeOfAMomentNoCalendarShowsIsItsNumber) {
  const LocalizedText english("en_US", "UTC");
  EXPECT_EQ(english.longDateTime(Date::fromSecondsSince1970(std::numeric_limits<double>::quiet_NaN())), "nan");
  EXPECT_EQ(english.longDateTime(Date::fromSecondsSince1970(-std::numeric_limits<double>::infinity())), "-inf");
  EXPECT_EQ(english.longDateTime(Date::fromSecondsSince1970(1e300)), "1e+300");
}

TEST(LocalizedTextTest, ThreadsFormattingAtOnceGetTheirOwnLocalesRight) {
  // More locales than a thread caches, so that every thread also drops and
  // rebuilds its formatters while the others format.
  struct Expected {
    const char* locale;
    const char* thousand;
  };
  const std::vector<Expected> expectations = {
      {"en_US", "1,000"},      {"de_DE", "1.000"}, {"fr_FR", "1\u202f000"}, {"it_IT", "1.000"}, {"en_GB", "1,000"},
      {"de_CH", "1\u2019000"}, {"nl_NL", "1.000"}, {"pt_BR", "1.000"},      {"ja_JP", "1,000"}, {"da_DK", "1.000"},
  };
  std::vector<std::thread> threads;
  std::vector<int> failures(4, 0);
  for (std::size_t t = 0; t < failures.size(); ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 20; ++round) {
        for (std::size_t i = 0; i < expectations.size(); ++i) {
          const auto& expected = expectations[(i + t * 3) % expectations.size()];
          const LocalizedText text(expected.locale, "UTC");
          if (text.decimal(1000) != expected.thousand) ++failures[t];
          if (!text.fullDuration(90).has_value()) ++failures[t];
          if (text.longDateTime(Date::fromSecondsSince1970(kNewYear2027)).find("2027") == std::string::npos) {
            ++failures[t];
          }
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (const int count : failures) EXPECT_EQ(count, 0);
}

TEST(StatusPhraseTest, LowerCaseReasonPhraseElseTheClassPhraseElseAFixedOne) {
  const std::vector<std::pair<std::int64_t, const char*>> cases = {
      {201, "created"},       {404, "not found"},    {429, "too many requests"},
      {199, "informational"}, {299, "success"},      {399, "redirected"},
      {418, "client error"},  {599, "server error"}, {99, "unknown error"},
      {600, "unknown error"}, {-1, "unknown error"}, {std::numeric_limits<std::int64_t>::min(), "unknown error"}};
  for (const auto& [code, phrase] : cases) EXPECT_EQ(localizedStringForStatusCode(code), phrase) << code;
  for (std::int64_t code = 100; code < 600; ++code) {
    const std::string phrase = localizedStringForStatusCode(code);
    ASSERT_FALSE(phrase.empty()) << code;
    for (const char c : phrase) EXPECT_FALSE(std::isupper(static_cast<unsigned char>(c))) << code << ": " << phrase;
  }
}

}  // namespace
}  // namespace orbisgrove::platform
