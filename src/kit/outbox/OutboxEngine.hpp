// The outbox's machinery behind the public facade: the store, the delivery
// claim, the one attempt in flight, verdicts waiting to be stored and the
// timers that bring the next due.
#pragma once

#include <orbisgrove/kit/OrbisgroveFeedbackOutbox.hpp>
#include <orbisgrove/platform/URLResponse.hpp>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "kit/outbox/OutboxWaits.hpp"
#include "platform/core/ProcessLifecycle.hpp"
#include "platform/files/DataDirectory.hpp"
#include "platform/store/OutboxStore.hpp"

namespace orbisgrove {

/// Reports that may wait at once (queued, sending or unconfirmed).
inline constexpr std::size_t kOutboxWaitingLimit = 1000;
/// Delivered and rejected entries are kept this long (and at most the newest
/// OutboxStore::kFinishedEntriesKept of them).
inline constexpr double kOutboxKeepSeconds = 30.0 * 24 * 60 * 60;
/// How soon a process that found another delivering, or a store that refused
/// a change, looks again; the wait doubles with each further miss up to
/// kOutboxLongestRetrySeconds.
inline constexpr double kOutboxClaimRetrySeconds = 1.0;
inline constexpr double kOutboxLongestRetrySeconds = 64.0;

class OrbisgroveFeedbackOutbox::Engine : public std::enable_shared_from_this<Engine> {
 public:
  /// What an enqueue on the store-writes thread hands back: the result, and
  /// on success the new entry as stored.
  using StoredHandler =
      std::function<void(const OrbisgroveOutboxEnqueueResult& result, const OrbisgroveOutboxEntry* entry)>;

  Engine() = default;
  /// The engine of the shared outbox (the only one).
  static const std::shared_ptr<Engine>& shared();

  OrbisgroveOutboxEnqueueResult enqueue(const OrbisgroveSaveUserDataOptions& options);
  /// Builds the body now; commits on the store-writes thread; `done` runs
  /// once on the main queue. Null when taken; the error, and `done` never
  /// runs, when refused at once (a forked child, the process exiting).
  std::shared_ptr<const platform::Error> enqueueLater(const OrbisgroveSaveUserDataOptions& options,
                                                      std::shared_ptr<const StoredHandler> done);
  std::vector<OrbisgroveOutboxEntry> entries(std::shared_ptr<const platform::Error>* error);
  void deliverNow(DeliveryHandler done);
  std::shared_ptr<const platform::Error> deliver(const std::string& id, DeliveryHandler done);
  std::shared_ptr<const platform::Error> resend(const std::string& id, bool startDelivery);
  std::shared_ptr<const platform::Error> discard(const std::string& id);
  void setChangeHandler(ChangeHandler handler);

 private:
  using Clock = std::chrono::steady_clock;
  using Store = std::shared_ptr<platform::OutboxStore>;

  // This process's one attempt: the entry as its store holds it, and the
  // store it came from (the engine may have moved on to another since).
  struct Attempt {
    Store store;
    platform::StoredEntry entry;
    bool marked = false;
  };
  // A verdict the store could not take yet: kept, and written again later.
  struct Verdict {
    Store store;
    platform::StoredEntry after;
    platform::StoredState expected;
    std::optional<platform::StoredWait> hold;
  };

  // Caller holds mutex_. Opens (or reopens) the store at the data directory
  // as it is now; with DataDirectoryUse::existing a missing store leaves
  // store_ null and is no error.
  std::shared_ptr<const platform::Error> openLocked(platform::DataDirectoryUse use);
  // Caller holds mutex_. Stores `body` in the store at the data directory
  // and starts delivery; on success `entry` (when given) receives the entry.
  OrbisgroveOutboxEnqueueResult storeLocked(const std::string& body, std::optional<OrbisgroveOutboxEntry>* entry);
  // Caller holds mutex_. The stored entry `id` of the open store.
  platform::StoreResult<std::optional<platform::StoredEntry>> findLocked(const std::string& id);
  // Runs `pump` on the delivery thread at `deadline` unless one is due sooner.
  void scheduleLocked(Clock::time_point deadline);
  // The next look after a miss (claim held elsewhere, store failing).
  void retryLaterLocked();
  // Delivery thread: writes waiting verdicts, then starts the next due
  // attempt, or arranges the next timer.
  void pump(Clock::time_point firedFor);
  // Delivery thread, caller holds mutex_: the entry to try now, if any.
  std::optional<platform::StoredEntry> chooseLocked(std::vector<DeliveryHandler>& done);
  // The start hook: commits the mark (once, also on a redirect); false
  // when it cannot be written or no request may start.
  bool markStarting(const std::shared_ptr<Attempt>& attempt);
  void finishAttempt(const std::shared_ptr<Attempt>& attempt, std::optional<std::string> body,
                     std::shared_ptr<const platform::URLResponse> response,
                     std::shared_ptr<const platform::Error> transportError);
  // Caller holds mutex_. Stores the verdict, or keeps it for later; once
  // stored, its announcement joins `posts` (posted once the lock is let go:
  // a dispatcher may run it at once, and the handler may call the outbox).
  bool storeVerdictLocked(Verdict& verdict, std::vector<DeliveryHandler>& posts);
  void finishPassLocked(std::vector<DeliveryHandler>& done);
  void endWantedLocked(std::int64_t id, std::vector<DeliveryHandler>& done);
  void endAllWantedLocked(std::vector<DeliveryHandler>& done);
  // Ends the waits of entries that are neither queued nor being sent any more
  // (another process settled them), or that are gone.
  void endSettledWantedLocked(std::vector<DeliveryHandler>& done);
  void announceLocked(const platform::StoredEntry& entry, std::vector<DeliveryHandler>& posts);
  OrbisgroveOutboxEntry publicEntryLocked(const platform::StoredEntry& stored,
                                          const std::optional<Clock::time_point>& holdEnd);
  bool heldLocked(std::optional<Clock::time_point>& holdEnd);

  const platform::ProcessOwner owner_{};
  std::mutex mutex_;
  Store store_;
  std::optional<platform::DataDirectoryLocation> storeLocation_;
  std::shared_ptr<const ChangeHandler> changeHandler_;
  std::shared_ptr<Attempt> attempt_;
  std::vector<Verdict> unstored_;
  int misses_ = 0;
  std::optional<Clock::time_point> timerAt_;
  std::optional<Clock::time_point> lastPrune_;
  OutboxWaits waits_;
  // Entries a deliverNow() pass still has to try, and who waits for it.
  std::set<std::int64_t> forced_;
  std::vector<DeliveryHandler> passWaiters_;
  // Entries deliver() asked for, with who waits for each.
  std::map<std::int64_t, std::vector<DeliveryHandler>> wanted_;
  std::mt19937_64 jitter_{std::random_device{}()};
};

/// The public view of a stored entry whose next attempt is due at
/// `nextAttemptAt` (seconds since 1970; none when not waiting).
OrbisgroveOutboxEntry publicEntry(const platform::StoredEntry& stored, std::optional<double> nextAttemptAt);

}  // namespace orbisgrove
