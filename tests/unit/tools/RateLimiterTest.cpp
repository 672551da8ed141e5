// The reference service's rate limit counts per client (the windows' ends and
// their alignment: ReferenceServiceTest).
#include "TestPrelude.hpp"

#include <reference_service/RateLimiter.hpp>

namespace orbisgrove::tools {
namespace {

TEST(RateLimiterTest, CountsPerClientAndRefusesAnEmptyLimit) {
  using std::chrono::seconds;
  const auto at = [](long long unixSeconds) { return std::chrono::system_clock::time_point(seconds(unixSeconds)); };
  FixedWindowRateLimiter limiter(2, seconds(60));

  limiter.record("a", at(125));
  EXPECT_TRUE(limiter.allows("a", at(126)));
  limiter.record("a", at(126));
  EXPECT_FALSE(limiter.allows("a", at(179)));
  EXPECT_TRUE(limiter.allows("b", at(179)));
  EXPECT_THROW(FixedWindowRateLimiter(0, seconds(60)), std::invalid_argument);
  EXPECT_THROW(FixedWindowRateLimiter(1, seconds(0)), std::invalid_argument);
}

}  // namespace
}  // namespace orbisgrove::tools
