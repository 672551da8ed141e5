#include "kit/outbox/OutboxWaits.hpp"

#include <algorithm>
#include <cmath>

#include "platform/core/Date.hpp"

namespace orbisgrove {

OutboxWaits::Clock::time_point OutboxWaits::end(std::int64_t key, const platform::StoredWait& wait) {
  if (auto found = seen_.find(key); found != seen_.end() && found->second.wait == wait) return found->second.end;
  const double length =
      std::isnan(wait.seconds) ? 0.0 : std::clamp(wait.seconds, 0.0, platform::OutboxStore::kLongestWaitSeconds);
  const double now = platform::Date::now().secondsSince1970;
  const double remaining =
      !std::isfinite(wait.setAt) || now < wait.setAt ? length : std::max(0.0, length - (now - wait.setAt));
  const auto end = Clock::now() + platform::saturatedWait(remaining);
  seen_[key] = Seen{wait, end};
  return end;
}

void OutboxWaits::keepOnly(const std::set<std::int64_t>& kept) {
  std::erase_if(seen_, [&](const auto& item) { return item.first != kHold && !kept.contains(item.first); });
}

double OutboxWaits::wallTimeOf(Clock::time_point when) {
  const double ahead = std::chrono::duration<double>(when - Clock::now()).count();
  return platform::Date::now().secondsSince1970 + std::max(0.0, ahead);
}

}  // namespace orbisgrove
