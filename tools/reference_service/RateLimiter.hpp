// Fixed-window limit on accepted submissions per client.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

namespace orbisgrove::tools {

/// Windows are aligned to the Unix epoch (window k covers
/// [k * interval, (k + 1) * interval)), so every client's window ends at the
/// same, predictable second and the reset time is a whole Unix second. Not
/// thread-safe: the service serialises access.
class FixedWindowRateLimiter {
 public:
  using TimePoint = std::chrono::system_clock::time_point;

  /// Throws std::invalid_argument for a zero limit or an interval below one
  /// second.
  FixedWindowRateLimiter(std::size_t limit, std::chrono::seconds interval);

  /// Whether `client` may have one more submission accepted at `now`.
  [[nodiscard]] bool allows(const std::string& client, TimePoint now) const;
  /// Counts one accepted submission of `client` at `now`.
  void record(const std::string& client, TimePoint now);
  /// Unix time in seconds at which the window holding `now` ends.
  [[nodiscard]] std::int64_t windowEnd(TimePoint now) const;

  [[nodiscard]] std::size_t limit() const { return limit_; }
  [[nodiscard]] std::chrono::seconds interval() const { return interval_; }

 private:
  struct Window {
    std::int64_t index = 0;
    std::size_t accepted = 0;
  };
  [[nodiscard]] std::int64_t windowIndex(TimePoint now) const;

  std::size_t limit_;
  std::chrono::seconds interval_;
  std::map<std::string, Window> windows_;
};

}  // namespace orbisgrove::tools
