// Test-only natives of TestSeams.java, in the test build of the JNI library
// (which links the static kit, whose seams tests can set): hold the outbox's
// asynchronous commit back at its step seam until the test releases it.
#include <jni.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "TestSeams.hpp"
#include "kit/outbox/OutboxSteps.hpp"

namespace {

struct Gate {
  std::mutex mutex;
  std::condition_variable changed;
  bool holding = false;
  int held = 0;
};

Gate& gate() {
  static auto* const shared = new Gate;  // never destroyed: the store-writes thread may outlive main
  return *shared;
}

void holdQueuedCommit(orbisgrove::OutboxStep step) {
  if (step != orbisgrove::OutboxStep::beforeQueuedCommit) return;
  Gate& g = gate();
  std::unique_lock lock(g.mutex);
  if (!g.holding) return;
  ++g.held;
  g.changed.notify_all();
  g.changed.wait(lock, [&g] { return !g.holding; });
}

}  // namespace

extern "C" {

JNIEXPORT void JNICALL Java_org_orbisgrove_feedback_TestSeams_holdQueuedCommits(JNIEnv* /*env*/, jclass /*type*/,
                                                                                jboolean hold) {
  orbisgrove::testing::setOutboxStepHook(holdQueuedCommit);
  Gate& g = gate();
  {
    const std::lock_guard lock(g.mutex);
    g.holding = hold != JNI_FALSE;
    g.held = 0;
  }
  g.changed.notify_all();
}

JNIEXPORT jboolean JNICALL Java_org_orbisgrove_feedback_TestSeams_awaitHeldCommit(JNIEnv* /*env*/, jclass /*type*/) {
  Gate& g = gate();
  std::unique_lock lock(g.mutex);
  return g.changed.wait_for(lock, std::chrono::seconds(20), [&g] { return g.held > 0; }) ? JNI_TRUE : JNI_FALSE;
}

}  // extern "C"
