// A host process that ends while the kit's clients have requests in flight
// exits at once and cleanly, with exit status 0, however it ends. The
// requests run in a helper process against a service here.
#include <LocalHttpsService.hpp>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "../support/ScratchFiles.hpp"

namespace {

using orbisgrove::testing::LocalHttpsService;
using orbisgrove::testing::Reply;
using namespace std::chrono_literals;

// Runs the helper; once it has started its requests and `ready` holds, tells
// it to leave and expects it to exit with status 0 within 5 seconds.
void expectPromptCleanExit(const LocalHttpsService& service, const std::string& mode, int count,
                           const std::function<bool()>& ready) {
  const orbisgrove::testing::ScratchDirectory cache("orbisgrove-exit");
  const std::string host = service.hostAndPort();
  const std::string number = std::to_string(count);
  const char* argv[] = {ORBISGROVE_HARDENING_EXIT_HELPER,
                        host.c_str(),
                        service.caFile().c_str(),
                        cache.path().c_str(),
                        number.c_str(),
                        mode.c_str(),
                        nullptr};
  int toChild[2];
  int fromChild[2];
  ASSERT_EQ(::pipe2(toChild, O_CLOEXEC), 0);
  ASSERT_EQ(::pipe2(fromChild, O_CLOEXEC), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::dup2(toChild[0], STDIN_FILENO);
    ::dup2(fromChild[1], STDOUT_FILENO);
    ::execv(argv[0], const_cast<char* const*>(argv));
    ::_exit(127);
  }
  ::close(toChild[0]);
  ::close(fromChild[1]);
  std::string line;
  char c = 0;
  while (::read(fromChild[0], &c, 1) == 1 && c != '\n') line += c;
  EXPECT_EQ(line, "started");
  EXPECT_TRUE(ready());

  const auto go = std::chrono::steady_clock::now();
  EXPECT_EQ(::write(toChild[1], "g", 1), 1);
  int status = 0;
  bool exited = false;
  while (!exited && std::chrono::steady_clock::now() < go + 20s) {
    exited = ::waitpid(child, &status, WNOHANG) == child;
    if (!exited) std::this_thread::sleep_for(5ms);
  }
  const auto afterGo = std::chrono::steady_clock::now() - go;
  if (!exited) {
    ::kill(child, SIGKILL);
    ::waitpid(child, &status, 0);
  }
  ::close(toChild[1]);
  ::close(fromChild[0]);
  ASSERT_TRUE(exited) << "the process hung at exit";
  ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_LT(afterGo, 5s);
}

// Held requests, completions that end together while the first is held
// (no completion may start once the exit hook has begun), and answers that
// keep starting new requests (not a list: the facade never answers from the
// device).
TEST(ExitWithRequestsInFlight, ReturningFromMainExitingFromAnotherThreadOrWhileBusy) {
  const struct {
    const char* mode;
    int count;
    int rounds;
  } cases[] = {{"return", 10, 1}, {"exit-from-thread", 10, 1}, {"slow-completion", 6, 3}, {"busy", 6, 3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    const bool busy = c.mode == std::string("busy");
    LocalHttpsService service;
    service.setDefaultReply(busy ? Reply::text("busy") : Reply::stalled());
    for (int round = 0; round < c.rounds; ++round) {
      const std::size_t before = service.requestCount();
      expectPromptCleanExit(service, c.mode, c.count, [&] {
        if (busy) return service.waitForRequests(before + 60);
        if (c.mode != std::string("slow-completion")) return service.waitForRequests(before + 6);
        // Six requests are held at the service; all six replies leave at once.
        const bool held = service.waitForStalled(6);
        service.releaseStalled();
        std::this_thread::sleep_for(100ms);
        return held && service.requestCount() == before + 6;
      });
    }
  }
}

}  // namespace
