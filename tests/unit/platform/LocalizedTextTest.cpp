// Texts as the kit writes them. The decimal text of a
// coordinate is plain with a point between 0.0001 and 2^53, the exponent form
// with two exponent digits at least outside; fuzz/fuzz_decimal_text checks on
// every double that it reads back exactly and has that form.
#include "TestPrelude.hpp"

#include "platform/text/LocalizedText.hpp"

#include <cctype>

namespace orbisgrove::platform {
namespace {

// 2027-01-01 00:00:00 UTC.
constexpr double kNewYear2027 = 1798761600.0;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();
// ICU's English time patterns put a narrow no-break space before AM/PM.
#define NNBSP "\u202f"

TEST(LocalizedTextTest, DecimalGroupsDigitsByLocaleOverTheWholeUnsignedRange) {
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
  const std::vector<std::tuple<const char*, std::uint64_t, const char*>> cases = {
      {"en_US", 0, "0"},
      {"en_US", 999, "999"},
      {"en_US", 1000, "1,000"},
      {"en_US", 9223372036854775808ULL, "9,223,372,036,854,775,808"},
      {"en_US", kMax, "18,446,744,073,709,551,615"},
      {"de_DE", 1000, "1.000"},
      {"de_DE", kMax, "18.446.744.073.709.551.615"}};
  for (const auto& [locale, value, text] : cases) EXPECT_EQ(LocalizedText(locale).decimal(value), text) << value;
}

// Rounding to the millisecond happens before the split into units, so no
// unit overflows; a negative value too small to reach a millisecond is no
// period at all; values that are no period give nothing.
TEST(LocalizedTextTest, FullDurationNamesEveryNeededUnitToTheMillisecond) {
  const std::vector<std::tuple<const char*, double, std::string>> cases = {
      {"en_US", 3600, "1 hour"},
      {"en_US", 90, "1 minute, 30 seconds"},
      {"en_US", 93784, "1 day, 2 hours, 3 minutes, 4 seconds"},
      {"en_US", 86401, "1 day, 1 second"},
      {"en_US", 172800, "2 days"},
      {"en_US", 1, "1 second"},
      {"en_US", 0, "0 seconds"},
      {"en_US", -0.0, "0 seconds"},
      {"en_US", 0.5, "0.5 seconds"},
      {"en_US", 90.25, "1 minute, 30.25 seconds"},
      {"en_US", 0.1 + 0.2, "0.3 seconds"},
      {"en_US", 59.9999, "1 minute"},
      {"en_US", 3599.9996, "1 hour"},
      {"en_US", -0.0004, "0 seconds"},
      {"de_DE", 90, "1 Minute, 30 Sekunden"},
      {"de_DE", 93784, "1 Tag, 2 Stunden, 3 Minuten und 4 Sekunden"},
      {"de_DE", 30.5, "30,5 Sekunden"}};
  for (const auto& [locale, seconds, text] : cases) {
    EXPECT_EQ(LocalizedText(locale).fullDuration(seconds), text) << locale << " " << seconds;
  }
  for (const double noPeriod : {kNaN, kInfinity, -kInfinity, -1.0, -0.001, 1e300}) {
    EXPECT_EQ(LocalizedText("en_US").fullDuration(noPeriod), std::nullopt) << noPeriod;
  }
}

// A moment no calendar shows is written as its number. (German winter time
// is in ProcessEnvironmentTest.)
TEST(LocalizedTextTest, LongDateTimeFollowsLocaleAndTimeZone) {
  const std::vector<std::tuple<const char*, const char*, double, const char*>> cases = {
      {"en_US", "UTC", kNewYear2027, "January 1, 2027 at 12:00:00" NNBSP "AM UTC"},
      {"en_US", "America/New_York", kNewYear2027, "December 31, 2026 at 7:00:00" NNBSP "PM EST"},
      {"de_DE", "UTC", 0.75, "1. Januar 1970 um 00:00:00 UTC"},
      // Summer time shows in the zone's name.
      {"de_DE", "Europe/Berlin", kNewYear2027 + 181 * 86400.0, "1. Juli 2027 um 02:00:00 MESZ"},
      {"en_US", "UTC", kNaN, "nan"},
      {"en_US", "UTC", -kInfinity, "-inf"},
      {"en_US", "UTC", 1e300, "1e+300"}};
  for (const auto& [locale, zone, seconds, text] : cases) {
    EXPECT_EQ(LocalizedText(locale, zone).longDateTime(Date::fromSecondsSince1970(seconds)), text) << seconds;
  }
}

TEST(LocalizedTextTest, ThreadsFormattingAtOnceGetTheirOwnLocalesRight) {
  // More locales than a thread caches, so that every thread also drops and
  // rebuilds its formatters while the others format.
  const std::vector<std::pair<const char*, const char*>> thousands = {
      {"en_US", "1,000"},      {"de_DE", "1.000"}, {"fr_FR", "1\u202f000"}, {"it_IT", "1.000"}, {"en_GB", "1,000"},
      {"de_CH", "1\u2019000"}, {"nl_NL", "1.000"}, {"pt_BR", "1.000"},      {"ja_JP", "1,000"}, {"da_DK", "1.000"},
  };
  std::vector<std::thread> threads;
  std::vector<int> failures(4, 0);
  for (std::size_t t = 0; t < failures.size(); ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 20; ++round) {
        for (std::size_t i = 0; i < thousands.size(); ++i) {
          const auto& [locale, thousand] = thousands[(i + t * 3) % thousands.size()];
          const LocalizedText text(locale, "UTC");
          failures[t] += text.decimal(1000) != thousand || !text.fullDuration(90).has_value() ||
                         text.longDateTime(Date::fromSecondsSince1970(kNewYear2027)).find("2027") == std::string::npos;
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (const int count : failures) EXPECT_EQ(count, 0);
}

TEST(LocalizedTextTest, StatusPhraseIsTheLowerCaseReasonPhraseElseTheClassPhraseElseAFixedOne) {
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

TEST(LocalizedTextTest, ShortestDecimalTextWritesTheFormsTheServiceExpects) {
  using Limits = std::numeric_limits<double>;
  const std::vector<std::pair<double, std::string>> cases = {{28, "28.0"},
                                                             {-122.4194155, "-122.4194155"},
                                                             {0.1, "0.1"},
                                                             {0.0, "0.0"},
                                                             {-0.0, "-0.0"},
                                                             {0.0001, "0.0001"},
                                                             {0.00001, "1e-05"},
                                                             {9.999999999999999e-05, "9.999999999999999e-05"},
                                                             {Limits::denorm_min(), "5e-324"},
                                                             {9007199254740991.0, "9007199254740991.0"},
                                                             {9007199254740992.0, "9.007199254740992e+15"},
                                                             {-1.25e100, "-1.25e+100"},
                                                             {Limits::quiet_NaN(), "nan"},
                                                             {-Limits::quiet_NaN(), "nan"},
                                                             {Limits::infinity(), "inf"},
                                                             {-Limits::infinity(), "-inf"}};
  for (const auto& [value, text] : cases) EXPECT_EQ(shortestDecimalText(value), text);
}

}  // namespace
}  // namespace orbisgrove::platform
