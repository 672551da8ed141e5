// Points in the outbox's work where a test may stop the process, to show what
// a crash there leaves behind. Internal: not part of the public API.
#pragma once

namespace orbisgrove {

enum class OutboxStep {
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

/// Called at each step (on the thread doing it); null for none.
void setOutboxStepHookForTesting(void (*hook)(OutboxStep step));
void reachOutboxStep(OutboxStep step);

}  // namespace orbisgrove
