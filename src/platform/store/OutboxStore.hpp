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

/// How far a stored report got. `sending` is the mark committed when its
/// request starts to go out.
enum class StoredState { queued, sending, delivered, unconfirmed, rejected };

/// A wait as it was set: when (wall clock, seconds since 1970) and for how
/// long. Kept in this form, not as a due time, so that a wall clock set back
/// after `setAt` cannot stretch it: a reader whose clock reads earlier than
/// `setAt` counts the whole wait from its own now.
struct StoredWait {
  double setAt = 0;
  double seconds = 0;
  friend bool operator==(const StoredWait&, const StoredWait&) = default;
};

struct StoredEntry {
  std::int64_t id = 0;
  /// The request body; empty once delivered (nothing will send it again).
  std::string body;
  StoredState state = StoredState::queued;
  /// Requests that went out for it.
  std::int64_t attempts = 0;
  /// Failures that count for the back-off (a 429 does not).
  std::int64_t failures = 0;
  double createdAt = 0;
  /// How long a queued entry waits before its next attempt; none: due now.
  std::optional<StoredWait> wait;
  std::shared_ptr<const Error> lastError;
  /// The created record of a delivered entry, as JSON (not the whole reply).
  std::optional<std::string> record;
  /// When it became delivered or rejected.
  std::optional<double> finishedAt;
};

template <class T>
using StoreResult = std::variant<T, std::shared_ptr<const Error>>;

/// Whether opening may create the store.
enum class StoreOpening { createIfMissing, existingOnly };

class OutboxStore {
 public:
  /// The schema this build writes (PRAGMA user_version); older files are
  /// migrated on open.
  static constexpr int kSchemaVersion = 3;
  /// PRAGMA application_id of our files ("OGFB").
  static constexpr std::int32_t kApplicationId = 0x4F474642;
  /// Delivered and rejected entries kept at most (the newest).
  static constexpr std::size_t kFinishedEntriesKept = 1000;
  /// A created record longer than this (as JSON) is not kept.
  static constexpr std::size_t kLongestRecordBytes = std::size_t{64} * 1024;
  /// No stored wait or hold lasts longer, whatever a reply asked for.
  static constexpr double kLongestWaitSeconds = 24.0 * 60 * 60;

  /// Opens the store at `path` (WAL, synchronous=FULL), creating it (mode
  /// 0600, before SQLite first opens it) when allowed; files of an earlier
  /// store that others could read are made private. With existingOnly, a
  /// missing file gives a null store and creates nothing. A file that is
  /// damaged, of another application or of a newer schema is refused with an
  /// error and left exactly as it is. Several processes may open one new file
  /// at once: the schema is created and checked in one write transaction.
  static StoreResult<std::unique_ptr<OutboxStore>> open(const std::string& path, StoreOpening opening);

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
  /// Writes everything but id and createdAt (the body only to drop it, once
  /// delivered), in one committed transaction, when the entry is still in
  /// state `expected`; false when it is not (another process changed it) or
  /// is gone. With `hold`, the outbox-wide hold changes in the same
  /// transaction. A finished entry (delivered, rejected) also drops the
  /// oldest finished ones beyond kFinishedEntriesKept.
  virtual StoreResult<bool> update(const StoredEntry& entry, StoredState expected,
                                   const std::optional<StoredWait>& hold = std::nullopt) = 0;
  /// false when there was no such entry.
  virtual StoreResult<bool> remove(std::int64_t id) = 0;
  /// Drops delivered and rejected entries finished before `before`, and all
  /// but the newest `keep` of them.
  virtual std::shared_ptr<const Error> prune(double before, std::size_t keep) = 0;
  /// The outbox-wide hold of a 429: no request until it has passed.
  virtual StoreResult<std::optional<StoredWait>> hold() = 0;

  /// Takes the delivery claim without waiting (a lock on the file beside the
  /// database, released when the process dies); true when this store holds
  /// it now, on the lock file that is at its path now (a lock file removed or
  /// replaced meanwhile no longer counts). Newly taking it turns entries left
  /// `sending` by a process that died into `unconfirmed` with `interrupted`
  /// as their last error.
  virtual StoreResult<bool> claimDelivery(const std::shared_ptr<const Error>& interrupted) = 0;
  virtual void releaseDelivery() = 0;

  /// The database file open here is no longer the one at the store's path
  /// (removed, or replaced by another file).
  [[nodiscard]] virtual bool moved() = 0;
};

}  // namespace orbisgrove::platform
