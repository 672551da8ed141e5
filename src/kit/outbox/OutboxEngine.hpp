// The outbox's machinery behind the public facade: the store, the delivery
// claim, the one request in flight and the timers that bring the next due.
#pragma once

#include <orbisgrove/kit/OrbisgroveFeedbackOutbox.hpp>
#include <orbisgrove/platform/URLResponse.hpp>

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "platform/store/OutboxStore.hpp"

namespace orbisgrove {

/// Reports that may wait at once (queued, sending or unconfirmed).
inline constexpr std::size_t kOutboxWaitingLimit = 1000;
/// Delivered and rejected entries are kept this long.
inline constexpr double kOutboxKeepSeconds = 30.0 * 24 * 60 * 60;
/// How soon a process that found another delivering (or a store that refused
/// a change) looks again.
inline constexpr double kOutboxClaimRetrySeconds = 1.0;

class OrbisgroveFeedbackOutbox::Engine : public std::enable_shared_from_this<Engine> {
 public:
  Engine() = default;

  OrbisgroveOutboxEnqueueResult enqueue(const OrbisgroveSaveUserDataOptions& options);
  std::vector<OrbisgroveOutboxEntry> entries(std::shared_ptr<const platform::Error>* error);
  void deliverNow(DeliveryHandler done);
  std::shared_ptr<const platform::Error> resend(const std::string& id, bool startDelivery);
  std::shared_ptr<const platform::Error> discard(const std::string& id);
  void setChangeHandler(ChangeHandler handler);

 private:
  // Caller holds mutex_. Opens the store when it is not open yet.
  std::shared_ptr<const platform::Error> openLocked();
  // Runs `pump` on the delivery thread at `deadline` unless one is due sooner.
  void scheduleLocked(std::chrono::steady_clock::time_point deadline);
  // Delivery thread: starts the next due attempt, or arranges the next timer.
  void pump(std::chrono::steady_clock::time_point firedFor);
  void finishAttempt(platform::StoredEntry entry, std::optional<std::string> body,
                     std::shared_ptr<const platform::URLResponse> response,
                     std::shared_ptr<const platform::Error> transportError);
  void finishPassLocked(std::vector<DeliveryHandler>& done);
  void announce(const platform::StoredEntry& entry);

  std::mutex mutex_;
  std::unique_ptr<platform::OutboxStore> store_;
  std::shared_ptr<const ChangeHandler> changeHandler_;
  bool sending_ = false;
  std::optional<std::chrono::steady_clock::time_point> timerAt_;
  std::optional<std::chrono::steady_clock::time_point> lastPrune_;
  // Entries a deliverNow() pass still has to try, and who waits for it.
  std::set<std::int64_t> forced_;
  std::vector<DeliveryHandler> passWaiters_;
  std::mt19937_64 jitter_{std::random_device{}()};
};

/// The public view of a stored entry.
OrbisgroveOutboxEntry publicEntry(const platform::StoredEntry& stored);

}  // namespace orbisgrove
