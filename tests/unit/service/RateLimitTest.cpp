// The rate-limit fields of a reply: their names and the syntax of their values.

#include <clocale>
#include <cmath>

#include "ServiceReplies.hpp"
#include "service/RateLimit.hpp"

namespace orbisgrove::testing {
namespace {

platform::HTTPURLResponse replyWith(platform::HTTPHeaderFields fields) {
  return platform::HTTPURLResponse(kServiceURL, 429, std::move(fields));
}

TEST(RateLimitTest, CountAcceptsDecimalDigitsWithOneSignAndMinusOnlyBeforeZeros) {
  for (const auto& [text, count] : std::vector<std::pair<const char*, std::uint64_t>>{
           {"1000", 1000}, {"+7", 7}, {"007", 7}, {"-0", 0}, {"-000", 0}, {"18446744073709551615", UINT64_MAX}}) {
    EXPECT_EQ(parseRateLimitCount(text), count) << text;
  }
  for (const char* text : {"", "+", "-", "-1", "18446744073709551616", "99999999999999999999999", " 5", "5 ", "1.0",
                           "1e3", "0x10", "5a", "+-5", "١٢"}) {
    EXPECT_FALSE(parseRateLimitCount(text)) << '"' << text << '"';
  }
}

TEST(RateLimitTest, SecondsAcceptStrtodSyntaxOverTheWholeText) {
  const double inf = INFINITY;
  for (const auto& [text, seconds] : std::vector<std::pair<const char*, double>>{
           {"60", 60}, {"1.5e3", 1500}, {"+.5", 0.5}, {"0x1p4", 16}, {"-2", -2}, {"INF", inf}, {"-infinity", -inf}}) {
    EXPECT_EQ(parseRateLimitSeconds(text), seconds) << text;
  }
  EXPECT_TRUE(std::isnan(*parseRateLimitSeconds("nan")));
  for (const char* text : {"", " 60", "60 ", "6 0", "60\t", "\n60", "60s", "1,5", ".", "e5", "\xc2\xb5"}) {
    EXPECT_FALSE(parseRateLimitSeconds(text)) << '"' << text << '"';
  }
  EXPECT_FALSE(parseRateLimitSeconds(std::string_view("60\0", 3)));
}

TEST(RateLimitTest, SecondsIgnoreTheProcessLocale) {
  // Under a locale with a decimal comma, "1.5" must still read as 1.5.
  const std::string previous = std::setlocale(LC_NUMERIC, nullptr);
  if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8") && !std::setlocale(LC_NUMERIC, "fr_FR.UTF-8")) {
    GTEST_SKIP() << "no locale with a decimal comma installed";
  }
  EXPECT_EQ(parseRateLimitSeconds("1.5"), 1.5);
  EXPECT_FALSE(parseRateLimitSeconds("1,5"));
  std::setlocale(LC_NUMERIC, previous.c_str());
}

TEST(RateLimitTest, FieldsAreLookedUpByTheirExactNames) {
  const auto reply = replyWith(
      {{"X-Rate-Limit-Limit", "100"}, {"X-Rate-Limit-Interval", "3600"}, {"X-Rate-Limit-Reset", "1798761600.25"}});
  EXPECT_EQ(rateLimit(reply), 100u);
  EXPECT_EQ(rateLimitInterval(reply), 3600.0);
  ASSERT_TRUE(rateLimitResetTime(reply));
  EXPECT_EQ(rateLimitResetTime(reply)->secondsSince1970, 1798761600.25);

  const auto lowerCase =
      replyWith({{"x-rate-limit-limit", "100"}, {"x-rate-limit-interval", "3600"}, {"X-RATE-LIMIT-RESET", "0"}});
  EXPECT_FALSE(rateLimit(lowerCase));
  EXPECT_FALSE(rateLimitInterval(lowerCase));
  EXPECT_FALSE(rateLimitResetTime(lowerCase));
}

}  // namespace
}  // namespace orbisgrove::testing
