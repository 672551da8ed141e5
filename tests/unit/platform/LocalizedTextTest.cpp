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

// Other locales than English (whose texts TextFormatterTest checks through
// the default formatter) by their own rules, in the zone given; summer time
// shows in the zone's name. (German winter time is in ProcessEnvironmentTest.)
TEST(LocalizedTextTest, GermanGroupsDigitsNamesUnitsAndWritesDatesItsOwnWay) {
  const LocalizedText german("de_DE", "UTC");
  EXPECT_EQ(german.decimal(std::numeric_limits<std::uint64_t>::max()), "18.446.744.073.709.551.615");
  EXPECT_EQ(german.fullDuration(90), "1 Minute, 30 Sekunden");
  EXPECT_EQ(german.fullDuration(93784), "1 Tag, 2 Stunden, 3 Minuten und 4 Sekunden");
  EXPECT_EQ(german.fullDuration(30.5), "30,5 Sekunden");
  EXPECT_EQ(german.longDateTime(Date::fromSecondsSince1970(0.75)), "1. Januar 1970 um 00:00:00 UTC");
  EXPECT_EQ(
      LocalizedText("de_DE", "Europe/Berlin").longDateTime(Date::fromSecondsSince1970(kNewYear2027 + 181 * 86400.0)),
      "1. Juli 2027 um 02:00:00 MESZ");
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
