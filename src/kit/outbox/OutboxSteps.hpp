// Points in the outbox's work where a test may stop the process, to show what
// a crash there leaves behind. Internal: not part of the public API.
#pragma once

#include <atomic>

namespace orbisgrove {

enum class OutboxStep {
  /// The asynchronous enqueue(), on the store-writes thread, before its
  /// commit begins (outside the outbox's lock: holding it back holds back
  /// only the writes queued behind it).
  beforeQueuedCommit,
  /// enqueue(), before and after the report is committed.
  beforeCommit,
  afterCommit,
  /// An entry is chosen for an attempt; its request is not made yet.
  beforeRequest,
  /// The connection is ready and nothing is written yet: before and after
  /// the mark "sending" is committed (under the outbox's lock).
  beforeStartMark,
  afterStartMark,
  /// The outcome arrived; before its verdict is taken.
  afterReply,
  /// The verdict is stored, or kept for a later write (under the outbox's lock).
  afterOutcomeMark,
};

/// A test seam: called at each step (on the thread doing it). Null unless a
/// test sets it (tests/support/TestSeams.hpp).
extern std::atomic<void (*)(OutboxStep)> outboxStepHookForTests;
void reachOutboxStep(OutboxStep step);

}  // namespace orbisgrove
