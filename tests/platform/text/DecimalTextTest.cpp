#include "platform/text/LocalizedText.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>

namespace orbisgrove::platform {
namespace {

TEST(DecimalTextTest, WritesTheFormsTheServiceExpects) {
  EXPECT_EQ(shortestDecimalText(28), "28.0");
  EXPECT_EQ(shortestDecimalText(-3), "-3.0");
  EXPECT_EQ(shortestDecimalText(28.5), "28.5");
  EXPECT_EQ(shortestDecimalText(77.25), "77.25");
  EXPECT_EQ(shortestDecimalText(-122.4194155), "-122.4194155");
  EXPECT_EQ(shortestDecimalText(0.1), "0.1");
  EXPECT_EQ(shortestDecimalText(60), "60.0");
  EXPECT_EQ(shortestDecimalText(0.0), "0.0");
  EXPECT_EQ(shortestDecimalText(-0.0), "-0.0");
}

TEST(DecimalTextTest, SmallMagnitudesUseTheExponentFormWithTwoDigitsAtLeast) {
  EXPECT_EQ(shortestDecimalText(0.0001), "0.0001");
  EXPECT_EQ(shortestDecimalText(-0.0001), "-0.0001");
  EXPECT_EQ(shortestDecimalText(0.00012), "0.00012");
  EXPECT_EQ(shortestDecimalText(0.00001), "1e-05");
  EXPECT_EQ(shortestDecimalText(-0.00001), "-1e-05");
  EXPECT_EQ(shortestDecimalText(1.5e-7), "1.5e-07");
  EXPECT_EQ(shortestDecimalText(9.999999999999999e-05), "9.999999999999999e-05");
  EXPECT_EQ(shortestDecimalText(1e-300), "1e-300");
  EXPECT_EQ(shortestDecimalText(std::numeric_limits<double>::denorm_min()), "5e-324");
}

TEST(DecimalTextTest, LargeMagnitudesUseTheExponentFormFromTwoToTheFiftyThird) {
  EXPECT_EQ(shortestDecimalText(1e15), "1000000000000000.0");
  EXPECT_EQ(shortestDecimalText(9007199254740991.0), "9007199254740991.0");
  EXPECT_EQ(shortestDecimalText(9007199254740992.0), "9.007199254740992e+15");
  EXPECT_EQ(shortestDecimalText(1e21), "1e+21");
  EXPECT_EQ(shortestDecimalText(-1.25e100), "-1.25e+100");
  EXPECT_EQ(shortestDecimalText(std::numeric_limits<double>::max()), "1.7976931348623157e+308");
}

TEST(DecimalTextTest, NonFiniteValuesAreWords) {
  EXPECT_EQ(shortestDecimalText(std::numeric_limits<double>::quiet_NaN()), "nan");
  EXPECT_EQ(shortestDecimalText(-std::numeric_limits<double>::quiet_NaN()), "nan");
  EXPECT_EQ(shortestDecimalText(std::numeric_limits<double>::infinity()), "inf");
  EXPECT_EQ(shortestDecimalText(-std::numeric_limits<double>::infinity()), "-inf");
}

// Every finite double, whatever its bits, reads back exactly and keeps to the
// form: plain with a point between 0.0001 and 2^53, exponent form with two
// exponent digits at least outside, and never more than 17 significant digits.
TEST(DecimalTextTest, RandomDoublesReadBackExactly) {
  std::mt19937_64 random(20270101);
  std::uniform_real_distribution<double> coordinates(-180.0, 180.0);
  for (int i = 0; i < 200000; ++i) {
    const double value = i % 2 == 0 ? std::bit_cast<double>(random()) : coordinates(random);
    if (!std::isfinite(value)) continue;
    const std::string text = shortestDecimalText(value);
    char* end = nullptr;
    const double back = std::strtod(text.c_str(), &end);
    ASSERT_EQ(*end, '\0') << text;
    ASSERT_EQ(std::bit_cast<std::uint64_t>(back), std::bit_cast<std::uint64_t>(value)) << text;

    const double magnitude = std::fabs(value);
    const auto exponent = text.find('e');
    if (value != 0 && (magnitude < 0.0001 || magnitude >= 9007199254740992.0)) {
      ASSERT_NE(exponent, std::string::npos) << text;
      ASSERT_GE(text.size() - exponent, 4U) << text;  // "e", sign, two digits
    } else {
      ASSERT_EQ(exponent, std::string::npos) << text;
      ASSERT_NE(text.find('.'), std::string::npos) << text;
    }
    std::size_t significant = 0;
    bool leading = true;
    for (std::size_t k = 0; k < (exponent == std::string::npos ? text.size() : exponent); ++k) {
      const char c = text[k];
      if (c < '0' || c > '9') continue;
      if (leading && c == '0') continue;
      leading = false;
      ++significant;
    }
    ASSERT_LE(significant, 17U + (text.ends_with(".0") ? 1U : 0U)) << text;
  }
}

}  // namespace
}  // namespace orbisgrove::platform
