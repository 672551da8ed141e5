// The durable way to submit a report: stored on the device first, then
// delivered while the process runs, never lost and never sent twice by the
// kit's own doing.
#pragma once

#include <orbisgrove/Export.hpp>
#include <orbisgrove/model/OrbisgroveSaveUserDataOptions.hpp>
#include <orbisgrove/model/OrbisgroveUserDataInfo.hpp>
#include <orbisgrove/platform/Error.hpp>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orbisgrove {

/// Where a stored report stands.
enum class OrbisgroveOutboxEntryState {
  /// Waiting for an attempt (the first, or again after a failure that did not
  /// store it on the service); also while its request is under way.
  queued,
  /// The service answered "201"; `record` holds what it created.
  delivered,
  /// The request may have reached the service but no verdict came back. Never
  /// sent again on its own: the host decides (resend or discard).
  unconfirmed,
  /// The service refused it; never sent again.
  rejected,
};

/// "queued", "delivered", "unconfirmed" or "rejected".
ORBISGROVE_EXPORT std::string_view outboxEntryStateName(OrbisgroveOutboxEntryState state);

/// One stored report as it stands now (a snapshot).
struct OrbisgroveOutboxEntry {
  /// The outbox's id for it, unique within its store.
  std::string id;
  /// Where it stands.
  OrbisgroveOutboxEntryState state = OrbisgroveOutboxEntryState::queued;
  /// Requests that went out for it.
  std::int64_t attempts = 0;
  /// When enqueue() stored it.
  std::chrono::system_clock::time_point createdAt;
  /// When a queued entry is tried next on its own; none when it waits for no
  /// time (or is not queued).
  std::optional<std::chrono::system_clock::time_point> nextAttemptAt;
  /// What the last attempt ended with; null after a success or before any.
  std::shared_ptr<const platform::Error> lastError;
  /// The created record of a delivered entry; null when the reply had none.
  std::shared_ptr<OrbisgroveUserDataInfo> record;
  /// Its request is under way right now.
  bool sending = false;
};

/// What enqueue() gives: the new entry's id, or why nothing was stored.
struct OrbisgroveOutboxEnqueueResult {
  /// The stored entry's id; none when nothing was stored.
  std::optional<std::string> id;
  /// Why nothing was stored; null when it was.
  std::shared_ptr<const platform::Error> error;
};

/// The outbox keeps reports in a store in the platform data directory
/// (platform::setDataDirectory) and delivers them one at a time, in stored
/// order, through the shared save client's endpoint as it stands at each
/// attempt. Attempts happen while the process runs: after enqueue(), on
/// deliverNow() or deliver() and when a waiting time comes due (on the
/// platform session's delivery thread; the kit's store-writes thread only
/// commits asynchronous enqueues); none starts once the process has begun to
/// exit. Of several processes on one data directory, one delivers at a time.
/// Every member is thread-safe and none throws. The data directory is read
/// at each call: the first call after platform::setDataDirectory() names one
/// that other users can enter (or that cannot be made) returns that error
/// value. In a child made by fork() every call fails at once with an error
/// value (deliverNow() just runs `done`); the child never touches the
/// parent's store or claim.
class ORBISGROVE_EXPORT OrbisgroveFeedbackOutbox {
 public:
  /// Receives an entry that changed, on the main queue.
  using ChangeHandler = std::function<void(const OrbisgroveOutboxEntry& entry)>;
  /// Called on the main queue when a delivery pass is over.
  using DeliveryHandler = std::function<void()>;
  /// Receives what an asynchronous enqueue() came to, on the main queue.
  using EnqueueHandler = std::function<void(OrbisgroveOutboxEnqueueResult result)>;

  /// The process-wide outbox; created on first use, never destroyed. Its
  /// store opens on first use (and again on a later call after a failure).
  static OrbisgroveFeedbackOutbox& shared();

  /// Builds the request body from `options` and the bundle identifier exactly
  /// as saveUserData does, on the calling thread, and commits it to the store
  /// before returning its id; then starts delivery. Blocks for the durable
  /// commit (a sync of the store's log). Fails with an error value, storing
  /// nothing, when the store cannot be opened or 1,000 reports already wait.
  OrbisgroveOutboxEnqueueResult enqueue(const OrbisgroveSaveUserDataOptions& options);

  /// The same without waiting for the disk, for a UI thread: builds the body
  /// on the calling thread as enqueue(options) does and returns; commits on
  /// the kit's store-writes thread (one for the process, started on first
  /// use, never the delivery thread), in call order; then starts delivery.
  /// `completion` (may be empty) runs once on the main queue with the id,
  /// once the report is durably stored, or with the error when nothing was
  /// stored (the store cannot be opened, 1,000 reports already wait). Nothing
  /// to cancel. At exit: a report taken before the process began to exit is
  /// committed within the exit budget; one that cannot start by then is not
  /// stored, and `completion` gets that error (posted, though no main queue
  /// may run it any more); one whose commit is still under way when the
  /// budget is spent (a stalled disk) gets no word at all, since the process
  /// ends. Called once the process has begun to exit, or in a child made by
  /// fork(), it stores nothing and `completion` gets the error at once
  /// (posted to the main queue). Never an id for a report that is not
  /// stored, never an error for one that is.
  void enqueue(const OrbisgroveSaveUserDataOptions& options, EnqueueHandler completion);

  /// Every entry, in stored order; empty when the store cannot be opened
  /// (`error` then says why, when given). Reads on the calling thread; a
  /// store (or data directory) that does not exist yet reads as empty and is
  /// not created.
  std::vector<OrbisgroveOutboxEntry> entries(std::shared_ptr<const platform::Error>* error = nullptr);

  /// The host's "the network is back": tries every queued entry now, waiting
  /// times or not, except while a 429's reset time lies ahead. Returns at
  /// once; `done`, if given, runs once on the main queue when that pass is
  /// over (also when it could not start). Nothing to cancel: a pass ends
  /// with its last entry's outcome.
  void deliverNow(DeliveryHandler done = nullptr);

  /// Tries the queued entry `id` now, its waiting time or not, leaving every
  /// other entry's waiting time as it is: for a caller that waits for its own
  /// report only. No attempt starts while a 429's reset time lies ahead, or
  /// once the process has begun to exit. While another process delivers from
  /// the same store, this one looks again, ever less often, until it may try
  /// the entry or the other process has settled it. Returns null and runs
  /// `done` (if given) once on the main queue when that attempt is over, when
  /// the entry was settled elsewhere, or when it could not start (soon when
  /// the entry is not queued); returns an error value, and never runs `done`,
  /// for an unknown id or a store that cannot be opened.
  std::shared_ptr<const platform::Error> deliver(const std::string& id, DeliveryHandler done = nullptr);

  /// Queues an unconfirmed (or rejected) entry again: the host's choice to
  /// risk a second copy. With `startDelivery` an attempt starts at once;
  /// without, the entry goes with the next delivery (an enqueue, deliverNow()
  /// or a due time), for a host that knows it is offline. Null on success; an
  /// error for an unknown id or a delivered or queued entry. Commits on the
  /// calling thread.
  std::shared_ptr<const platform::Error> resend(const std::string& id, bool startDelivery = true);
  /// Drops an entry that is not being sent right now. Null on success; an
  /// error for an unknown id or one whose request is under way. Commits on
  /// the calling thread.
  std::shared_ptr<const platform::Error> discard(const std::string& id);

  /// Called on the main queue with each entry that changed state by the
  /// outbox's delivery (not for the host's own enqueue, resend or discard),
  /// once the store holds that state: a verdict the store cannot take yet
  /// (a full disk) is kept and written again while the process runs, and
  /// announced when written.
  /// An empty function removes it; changes already posted still reach the
  /// handler that was set when they happened.
  void setChangeHandler(ChangeHandler handler);

  OrbisgroveFeedbackOutbox(const OrbisgroveFeedbackOutbox&) = delete;
  OrbisgroveFeedbackOutbox& operator=(const OrbisgroveFeedbackOutbox&) = delete;

  class Engine;

 private:
  OrbisgroveFeedbackOutbox();
  ~OrbisgroveFeedbackOutbox();
  std::shared_ptr<Engine> engine_;
};

}  // namespace orbisgrove
