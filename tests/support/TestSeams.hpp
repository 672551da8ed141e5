// The only way tests reach into the kit's work: each setter writes a hook
// point that production code reads and never writes. Built for tests only.
#pragma once

#include <optional>

namespace orbisgrove {
enum class OutboxStep;
}

namespace orbisgrove::testing {

/// Called at each step of the outbox's work (on the thread doing it); null for none.
void setOutboxStepHook(void (*hook)(OutboxStep step));
/// Date::now() reads the system clock plus `seconds` from now on (0 restores it).
void setWallClockOffset(double seconds);
/// Runs in the exit hook once every thread of the kit has been told that the
/// process exits, before the hook waits for them.
void setExitObserver(void (*observer)());
/// No request resumed from now on, on any session, waits longer than
/// `seconds`; std::nullopt removes the cap.
void setRequestTimeoutCap(std::optional<double> seconds);

}  // namespace orbisgrove::testing
