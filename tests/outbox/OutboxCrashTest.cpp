// A process killed at each step of storing and delivering a report, then the
// outbox reopened by another: the report is never lost, and one that may have
// reached the service is never sent again on its own.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "LocalHttpsService.hpp"
#include "OutboxTestSupport.hpp"

extern char** environ;

namespace orbisgrove::testing {
namespace {

pid_t spawnChild(std::vector<std::string> arguments) {
  std::string program = ORBISGROVE_OUTBOX_CRASH_CHILD;
  std::vector<char*> argv{program.data()};
  for (auto& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t quiet;
  posix_spawn_file_actions_init(&quiet);
  posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  const int failed = posix_spawn(&pid, argv[0], &quiet, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&quiet);
  return failed != 0 ? -1 : pid;
}

std::string resumeAndList(const std::string& directory, const LocalHttpsService& service) {
  const std::string command = std::string(ORBISGROVE_OUTBOX_CRASH_CHILD) + " resume " + directory + " " +
                              service.hostAndPort() + " " + service.caFile();
  FILE* pipe = ::popen(command.c_str(), "r");
  std::string output;
  std::array<char, 256> buffer{};
  while (pipe != nullptr && std::fgets(buffer.data(), buffer.size(), pipe) != nullptr) output += buffer.data();
  if (pipe != nullptr) ::pclose(pipe);
  return output;
}

struct CrashCase {
  std::string_view step;
  std::string_view stateAfterReopen;  // "<state> <attempts>\n" per entry
  std::size_t requestsSeen;           // before and after the reopened outbox's pass
};

class OutboxCrashTest : public ::testing::TestWithParam<CrashCase> {};

TEST_P(OutboxCrashTest, ReopenedOutboxNeitherLosesNorRepeats) {
  const CrashCase& crash = GetParam();
  LocalHttpsService service;
  const bool onTheWire = crash.step == "wire";
  service.setDefaultReply(Reply::json(R"({"response":"201"})"));
  if (onTheWire) service.enqueue(Reply::json(R"({"response":"201"})").stalledUntilReleased());
  const std::string directory = freshDirectory();

  const pid_t child =
      spawnChild({"store", std::string(crash.step), directory, service.hostAndPort(), service.caFile()});
  ASSERT_GT(child, 0);
  if (onTheWire) {
    ASSERT_TRUE(service.waitForStalled(1));
    ::kill(child, SIGKILL);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the child was to die at " << crash.step;
  service.releaseStalled();
  const std::size_t before = service.requestCount();
  EXPECT_EQ(before, crash.requestsSeen);

  EXPECT_EQ(resumeAndList(directory, service), crash.stateAfterReopen);
  EXPECT_EQ(service.requestCount(), crash.requestsSeen + (crash.step == "afterCommit" ? 1 : 0));
  std::filesystem::remove_all(directory);
}

// A report whose enqueue never returned was never the caller's to lose.
INSTANTIATE_TEST_SUITE_P(
    EveryStep, OutboxCrashTest,
    ::testing::Values(CrashCase{"beforeCommit", "", 0}, CrashCase{"afterCommit", "delivered 1\n", 0},
                      CrashCase{"afterInFlightMark", "unconfirmed 1\n", 0}, CrashCase{"wire", "unconfirmed 1\n", 1},
                      CrashCase{"afterReply", "unconfirmed 1\n", 1}, CrashCase{"afterOutcomeMark", "delivered 1\n", 1}),
    [](const auto& param) { return std::string(param.param.step); });

// Two processes of one app on one data directory, both told to deliver: each
// report reaches the service once.
TEST(OutboxTwoProcessTest, OneDeliversAtATimeAndNothingGoesTwice) {
  LocalHttpsService service;
  service.setDefaultReply(Reply::json(R"({"response":"201"})"));
  const std::string directory = freshDirectory();
  const auto run = [&](std::vector<std::string> arguments) {
    const pid_t child = spawnChild(std::move(arguments));
    int status = -1;
    if (child > 0) ::waitpid(child, &status, 0);
    return status;
  };
  // Stored while the service is out of reach (nothing listens on port 9 here).
  ASSERT_EQ(run({"fill", "20", directory, "127.0.0.1:9", service.caFile()}), 0);
  ASSERT_EQ(service.requestCount(), 0U);
  const pid_t first = spawnChild({"resume", directory, service.hostAndPort(), service.caFile()});
  const pid_t second = spawnChild({"resume", directory, service.hostAndPort(), service.caFile()});
  for (const pid_t child : {first, second}) {
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_EQ(service.requestCount(), 20U);
  std::set<std::string> bodies;
  for (const auto& request : service.requests()) bodies.insert(request.body);
  EXPECT_EQ(bodies.size(), 20U) << "a report went twice";
  std::filesystem::remove_all(directory);
}

}  // namespace
}  // namespace orbisgrove::testing
