// The decimal text of a coordinate: plain with a point between 0.0001 and
// 2^53, the exponent form with two exponent digits at least outside.
// fuzz/fuzz_decimal_text checks on every double that it reads back exactly and
// has that form; the table holds typical coordinates, the boundaries and zeros.
#include "platform/text/LocalizedText.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <utility>
#include <vector>

namespace orbisgrove::platform {
namespace {

TEST(DecimalTextTest, WritesTheFormsTheServiceExpects) {
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
