// The outbox's durable store: one SQLite file holding each stored report with
// its delivery state, and a lock file beside it that names the one process
// allowed to deliver. Only this layer knows SQLite.
#pragma once

#include <orbisgrove/platform/Error.hpp>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace orbisgrove::platform {

/// How far a stored report got. `sending` is the mark committed before its
/// request goes out.
enum class StoredState { queued, sending, delivered, unconfirmed, rejected };

struct StoredEntry {
  std::int64_t id = 0;
  std::string body;
  StoredState state = StoredState::queued;
  /// Requests that went out for it.
  std::int64_t attempts = 0;
  /// Failures that count for the back-off (a 429 does not).
  std::int64_t failures = 0;
  double createdAt = 0;
  std::optional<double> nextAttemptAt;
  std::shared_ptr<const Error> lastError;
  /// The body of the service's "201" reply.
  std::optional<std::string> reply;
  /// When it became delivered or rejected.
  std::optional<double> finishedAt;
};

template <class T>
using StoreResult = std::variant<T, std::shared_ptr<const Error>>;

class OutboxStore {
 public:
  /// The schema this build writes (PRAGMA user_version); older files are
  /// migrated on open.
  static constexpr int kSchemaVersion = 2;
  /// PRAGMA application_id of our files ("OGFB").
  static constexpr std::int32_t kApplicationId = 0x4F474642;

  /// Opens or creates the store at `path` (WAL, synchronous=FULL). A file
  /// that is damaged, of another application or of a newer schema is refused
  /// with an error and left exactly as it is.
  static StoreResult<std::unique_ptr<OutboxStore>> open(const std::string& path);

  virtual ~OutboxStore() = default;
  OutboxStore() = default;
  OutboxStore(const OutboxStore&) = delete;
  OutboxStore& operator=(const OutboxStore&) = delete;

  /// Stores a queued entry in one committed transaction; fails without
  /// storing when `waitingLimit` entries already wait (queued, sending or
  /// unconfirmed).
  virtual StoreResult<std::int64_t> insert(std::string_view body, double createdAt, std::size_t waitingLimit) = 0;
  /// Every entry, in stored order.
  virtual StoreResult<std::vector<StoredEntry>> all() = 0;
  virtual StoreResult<std::optional<StoredEntry>> entry(std::int64_t id) = 0;
  /// Writes everything but id, body and createdAt, in one committed
  /// transaction, when the entry is still in state `expected`; false when it
  /// is not (another process changed it) or is gone.
  virtual StoreResult<bool> update(const StoredEntry& entry, StoredState expected) = 0;
  /// false when there was no such entry.
  virtual StoreResult<bool> remove(std::int64_t id) = 0;
  /// Drops delivered and rejected entries finished before `before`.
  virtual std::shared_ptr<const Error> prune(double before) = 0;
  /// The outbox-wide hold of a 429: no request before this time.
  virtual StoreResult<std::optional<double>> holdUntil() = 0;
  virtual std::shared_ptr<const Error> setHoldUntil(std::optional<double> until) = 0;

  /// Takes the delivery claim without waiting (a lock on the file beside the
  /// database, released when the process dies); true when this store holds
  /// it now. Taking it turns entries left `sending` by a process that died
  /// into `unconfirmed` with `interrupted` as their last error.
  virtual StoreResult<bool> claimDelivery(const std::shared_ptr<const Error>& interrupted) = 0;
  virtual void releaseDelivery() = 0;
};

}  // namespace orbisgrove::platform
