#include "TestSeams.hpp"

#include "kit/outbox/OutboxSteps.hpp"
#include "platform/core/Date.hpp"
#include "platform/core/ProcessLifecycle.hpp"
#include "platform/http/NetworkTestSeams.hpp"

namespace orbisgrove::testing {

void setOutboxStepHook(void (*hook)(OutboxStep step)) { outboxStepHookForTests.store(hook); }
void setWallClockOffset(double seconds) { platform::wallClockOffsetForTests.store(seconds); }
void setExitObserver(void (*observer)()) { platform::exitObserverForTests.store(observer); }
void setRequestTimeoutCap(std::optional<double> seconds) {
  platform::http::requestTimeoutCapForTests.store(seconds.value_or(0));
}

}  // namespace orbisgrove::testing
