// A process killed at each step of storing and delivering a report, then the
// outbox reopened by another: neither loses the report nor sends one that
// may have reached the service again on its own.
#include "TestPrelude.hpp"

#include <signal.h>

#include "ChildProcesses.hpp"
#include "LocalHttpsService.hpp"
#include "ScratchFiles.hpp"
#include "kit/outbox/OutboxSteps.hpp"

namespace orbisgrove::testing {
namespace {

struct CrashCase {
  const char* name;
  int step;                        // the OutboxStep to die at; -1: killed while the request is out
  const char* stateAfterReopen;    // "<state> <attempts>\n" per entry
  std::size_t requestsSeen;        // before the reopened outbox's pass
  std::size_t requestsOfReopened;  // made by its pass
};

class OutboxCrashTest : public ::testing::TestWithParam<CrashCase> {};

TEST_P(OutboxCrashTest, ReopenedOutboxNeitherLosesNorRepeats) {
  const CrashCase& crash = GetParam();
  LocalHttpsService service;
  service.setDefaultReply(Reply::json(R"({"response":"201"})"));
  if (crash.step < 0) service.enqueue(Reply::json(R"({"response":"201"})").stalledUntilReleased());
  const ScratchDirectory directory("outbox-test");

  const pid_t child =
      spawnChild({"store", std::to_string(crash.step), directory.path(), service.hostAndPort(), service.caFile()});
  ASSERT_GT(child, 0);
  if (crash.step < 0) {
    ASSERT_TRUE(service.waitForStalled(1));
    ::kill(child, SIGKILL);
  }
  const int status = statusOf(child);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the child was to die at " << crash.name;
  service.releaseStalled();
  EXPECT_EQ(service.requestCount(), crash.requestsSeen);

  const std::string listing = directory / "listing";
  EXPECT_EQ(statusOf(spawnChild({"resume", "0", directory.path(), service.hostAndPort(), service.caFile()}, listing)),
            0);
  EXPECT_EQ(contentsOf(listing), crash.stateAfterReopen);
  EXPECT_EQ(service.requestCount(), crash.requestsSeen + crash.requestsOfReopened);
}

// A report whose enqueue never returned was never the caller's to lose. Until
// the mark that its request starts to go out is committed (while connecting,
// say), it is still queued; from the mark on it may have reached the service.
using enum OutboxStep;
const CrashCase kCrashes[] = {
    {"beforeCommit", int(beforeCommit), "", 0, 0},
    {"afterCommit", int(afterCommit), "delivered 1\n", 0, 1},
    {"connecting", int(beforeRequest), "delivered 1\n", 0, 1},
    {"beforeStartMark", int(beforeStartMark), "delivered 1\n", 0, 1},
    {"afterStartMark", int(afterStartMark), "unconfirmed 1\n", 0, 0},
    {"wire", -1, "unconfirmed 1\n", 1, 0},
    {"afterReply", int(afterReply), "unconfirmed 1\n", 1, 0},
    {"afterOutcomeMark", int(afterOutcomeMark), "delivered 1\n", 1, 0},
};
INSTANTIATE_TEST_SUITE_P(EveryStep, OutboxCrashTest, ::testing::ValuesIn(kCrashes),
                         [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace orbisgrove::testing
