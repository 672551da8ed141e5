#include "RateLimiter.hpp"

#include <iterator>
#include <stdexcept>

namespace orbisgrove::tools {
namespace {
// Past windows are forgotten once this many clients are tracked, so a
// long-running service does not grow without bound.
constexpr std::size_t kPruneThreshold = 256;
}  // namespace

FixedWindowRateLimiter::FixedWindowRateLimiter(std::size_t limit, std::chrono::seconds interval)
    : limit_(limit), interval_(interval) {
  if (limit == 0) throw std::invalid_argument("the rate limit must allow at least one submission");
  if (interval < std::chrono::seconds(1)) throw std::invalid_argument("the rate interval must be at least 1 second");
}

std::int64_t FixedWindowRateLimiter::windowIndex(TimePoint now) const {
  const auto seconds = std::chrono::floor<std::chrono::seconds>(now.time_since_epoch()).count();
  const auto length = static_cast<std::int64_t>(interval_.count());
  // Floor division: a clock before 1970 must not fold two windows into one.
  return seconds >= 0 ? seconds / length : -((-seconds + length - 1) / length);
}

std::int64_t FixedWindowRateLimiter::windowEnd(TimePoint now) const {
  return (windowIndex(now) + 1) * static_cast<std::int64_t>(interval_.count());
}

bool FixedWindowRateLimiter::allows(const std::string& client, TimePoint now) const {
  const auto found = windows_.find(client);
  return found == windows_.end() || found->second.index != windowIndex(now) || found->second.accepted < limit_;
}

void FixedWindowRateLimiter::record(const std::string& client, TimePoint now) {
  const std::int64_t index = windowIndex(now);
  if (windows_.size() >= kPruneThreshold) {
    for (auto it = windows_.begin(); it != windows_.end();) {
      it = it->second.index == index ? std::next(it) : windows_.erase(it);
    }
  }
  Window& window = windows_[client];
  if (window.index != index) window = Window{index, 0};
  ++window.accepted;
}

}  // namespace orbisgrove::tools
