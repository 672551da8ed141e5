// A process killed at each step of storing and delivering a report, then the
// outbox reopened by another: the report is never lost, and one that may have
// reached the service is never sent again on its own.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <set>
#include <string>
#include <vector>

#include "../support/ScratchFiles.hpp"
#include "LocalHttpsService.hpp"
#include "kit/outbox/OutboxSteps.hpp"

extern char** environ;

namespace orbisgrove::testing {
namespace {

// Starts the crash child; its standard output goes to `output`.
pid_t spawnChild(std::vector<std::string> arguments, const std::string& output = "/dev/null") {
  std::string program = ORBISGROVE_OUTBOX_CRASH_CHILD;
  std::vector<char*> argv{program.data()};
  for (auto& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t pid = -1;
  const int failed = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return failed != 0 ? -1 : pid;
}

int statusOf(pid_t child) {
  int status = -1;
  if (child <= 0 || ::waitpid(child, &status, 0) != child) return -1;
  return status;
}

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
  EXPECT_EQ(statusOf(spawnChild({"resume", directory.path(), service.hostAndPort(), service.caFile()}, listing)), 0);
  EXPECT_EQ(contentsOf(listing), crash.stateAfterReopen);
  EXPECT_EQ(service.requestCount(), crash.requestsSeen + crash.requestsOfReopened);
}

// A report whose enqueue never returned was never the caller's to lose.
using enum OutboxStep;
const CrashCase kCrashes[] = {
    {"beforeCommit", int(beforeCommit), "", 0, 0},
    {"afterCommit", int(afterCommit), "delivered 1\n", 0, 1},
    {"afterInFlightMark", int(afterInFlightMark), "unconfirmed 1\n", 0, 0},
    {"wire", -1, "unconfirmed 1\n", 1, 0},
    {"afterReply", int(afterReply), "unconfirmed 1\n", 1, 0},
    {"afterOutcomeMark", int(afterOutcomeMark), "delivered 1\n", 1, 0},
};
INSTANTIATE_TEST_SUITE_P(EveryStep, OutboxCrashTest, ::testing::ValuesIn(kCrashes),
                         [](const auto& param) { return std::string(param.param.name); });

// Two processes of one app on one data directory, both told to deliver: each
// report reaches the service once.
TEST(OutboxTwoProcessTest, OneDeliversAtATimeAndNothingGoesTwice) {
  LocalHttpsService service;
  service.setDefaultReply(Reply::json(R"({"response":"201"})"));
  const ScratchDirectory directory("outbox-test");
  // Stored while the service is out of reach (nothing listens on port 9 here).
  ASSERT_EQ(statusOf(spawnChild({"fill", "20", directory.path(), "127.0.0.1:9", service.caFile()})), 0);
  ASSERT_EQ(service.requestCount(), 0U);
  const pid_t first = spawnChild({"resume", directory.path(), service.hostAndPort(), service.caFile()});
  const pid_t second = spawnChild({"resume", directory.path(), service.hostAndPort(), service.caFile()});
  for (const pid_t child : {first, second}) EXPECT_EQ(statusOf(child), 0);
  EXPECT_EQ(service.requestCount(), 20U);
  std::set<std::string> bodies;
  for (const auto& request : service.requests()) bodies.insert(request.body);
  EXPECT_EQ(bodies.size(), 20U) << "a report went twice";
}

}  // namespace
}  // namespace orbisgrove::testing
