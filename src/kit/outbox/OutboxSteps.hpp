// Points in the outbox's work where a test may stop the process, to show what
// a crash there leaves behind. Internal: not part of the public API.
#pragma once

namespace orbisgrove {

enum class OutboxStep { beforeCommit, afterCommit, afterInFlightMark, afterReply, afterOutcomeMark };

/// Called at each step (on the thread doing it); null for none.
void setOutboxStepHookForTesting(void (*hook)(OutboxStep step));
void reachOutboxStep(OutboxStep step);

}  // namespace orbisgrove
