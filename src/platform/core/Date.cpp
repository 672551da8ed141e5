#include "platform/core/Date.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>

namespace orbisgrove::platform {

std::atomic<double> wallClockOffsetForTests{0};

Date Date::now() noexcept {
  const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
  return Date{std::chrono::duration<double>(sinceEpoch).count() +
              wallClockOffsetForTests.load(std::memory_order_relaxed)};
}

std::chrono::steady_clock::duration saturatedWait(double seconds) noexcept {
  const double bounded = std::isnan(seconds) ? 0.0 : std::clamp(seconds, 0.0, kLongestRepresentableWait);
  return std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(bounded));
}

std::chrono::system_clock::time_point saturatedSystemTime(double secondsSince1970) noexcept {
  const double bounded = std::isnan(secondsSince1970)
                             ? 0.0
                             : std::clamp(secondsSince1970, -kLongestRepresentableWait, kLongestRepresentableWait);
  return std::chrono::system_clock::time_point(
      std::chrono::duration_cast<std::chrono::system_clock::duration>(std::chrono::duration<double>(bounded)));
}

}  // namespace orbisgrove::platform
