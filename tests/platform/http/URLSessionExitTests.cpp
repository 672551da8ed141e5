// A process that exits while the shared session has transfers in flight must
// neither crash nor hang. The transfers run in a helper process, against a
// service here that holds every request.
#include <LocalHttpsService.hpp>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using orbisgrove::testing::LocalHttpsService;
using orbisgrove::testing::Reply;
using namespace std::chrono_literals;

struct ChildOutcome {
  bool exited = false;
  int status = 0;
  std::chrono::steady_clock::duration afterGo{};
};

// Runs the helper; once it has started its transfers and `ready` holds, tells
// it to exit and times how long it takes.
ChildOutcome runHelper(const LocalHttpsService& service, const std::string& mode, int transfers,
                       const std::function<bool()>& ready) {
  const std::string url = service.url("/explore-api/v1.2/");
  const std::string count = std::to_string(transfers);
  std::vector<const char*> argv = {
      ORBISGROVE_HTTP_EXIT_HELPER, url.c_str(), service.caFile().c_str(), count.c_str(), mode.c_str(), nullptr};
  int toChild[2];
  int fromChild[2];
  if (::pipe2(toChild, O_CLOEXEC) != 0 || ::pipe2(fromChild, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe";
    return {};
  }
  const pid_t child = ::fork();
  if (child == 0) {
    ::dup2(toChild[0], STDIN_FILENO);
    ::dup2(fromChild[1], STDOUT_FILENO);
    ::execv(argv[0], const_cast<char* const*>(argv.data()));
    ::_exit(127);
  }
  ::close(toChild[0]);
  ::close(fromChild[1]);
  ChildOutcome outcome;
  if (child < 0) {
    ADD_FAILURE() << "fork";
    return outcome;
  }

  std::string line;
  char c = 0;
  while (::read(fromChild[0], &c, 1) == 1 && c != '\n') line += c;
  EXPECT_EQ(line, "started");
  EXPECT_TRUE(ready());

  const auto go = std::chrono::steady_clock::now();
  EXPECT_EQ(::write(toChild[1], "g", 1), 1);
  const auto deadline = go + 20s;
  while (std::chrono::steady_clock::now() < deadline) {
    const pid_t done = ::waitpid(child, &outcome.status, WNOHANG);
    if (done == child) {
      outcome.exited = true;
      break;
    }
    std::this_thread::sleep_for(10ms);
  }
  outcome.afterGo = std::chrono::steady_clock::now() - go;
  if (!outcome.exited) {
    ::kill(child, SIGKILL);
    ::waitpid(child, &outcome.status, 0);
  }
  ::close(toChild[1]);
  ::close(fromChild[0]);
  return outcome;
}

void expectPromptCleanExit(const ChildOutcome& outcome) {
  ASSERT_TRUE(outcome.exited) << "the process hung at exit";
  ASSERT_TRUE(WIFEXITED(outcome.status)) << "killed by signal "
                                         << (WIFSIGNALED(outcome.status) ? WTERMSIG(outcome.status) : 0);
  EXPECT_EQ(WEXITSTATUS(outcome.status), 0);
  EXPECT_LT(outcome.afterGo, 5s);
}

TEST(URLSessionExit, ReturningFromMainWithTransfersInFlightExitsPromptly) {
  LocalHttpsService service;
  service.setDefaultReply(Reply::stalled());
  // Six transfers are mid-request at the service, the rest wait for a connection.
  expectPromptCleanExit(runHelper(service, "return", 40, [&] { return service.waitForStalled(6); }));
}

TEST(URLSessionExit, CallingExitFromAnotherThreadWithTransfersInFlightExitsPromptly) {
  LocalHttpsService service;
  service.setDefaultReply(Reply::stalled());
  expectPromptCleanExit(runHelper(service, "exit-from-thread", 10, [&] { return service.waitForStalled(6); }));
}

TEST(URLSessionExit, ExitingWhileTheDeliveryThreadIsBusyExitsCleanly) {
  LocalHttpsService service;
  service.setDefaultReply(Reply::text("next"));
  for (int round = 0; round < 5; ++round) {
    SCOPED_TRACE(round);
    const std::size_t before = service.requestCount();
    expectPromptCleanExit(runHelper(service, "busy", 12, [&] { return service.waitForRequests(before + 60); }));
  }
}

}  // namespace
