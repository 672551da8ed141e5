// Many host threads at once: category requests (answered from the device or
// from the service), submissions, a main queue being drained, and the cache
// file rewritten and removed under them. Every request is answered exactly
// once, with its own answer, on the thread its kind of answer belongs to. Runs
// under ThreadSanitizer in CI. And a host process that ends while requests are
// in flight (they run in a helper process against a service here) exits
// cleanly, with exit status 0, however it ends, within the exit budget.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <regex>
#include <string_view>

#include "KitServiceFixture.hpp"
#include "platform/core/ProcessLifecycle.hpp"

namespace orbisgrove {
namespace {

using testing::Answer;
using testing::Reply;
using namespace std::chrono_literals;

using ConcurrencyTest = testing::KitServiceFixture;

TEST_F(ConcurrencyTest, ThreadsAskAndSubmitWhileTheCacheIsRewrittenAndTheMainQueueDrains) {
  // Each submission is answered with its own name, so a mixed-up answer shows.
  service.setHandler([reportName = std::regex("report-[0-9]+")](const testing::RecordedRequest& request) {
    std::smatch found;
    if (!std::regex_search(request.body, found, reportName)) return Reply::json(std::string(testing::kTwoCategories));
    return Reply::json(R"({"response":"201","data":{"name":")" + found.str() + R"("}})");
  });

  constexpr int kCallers = 6;
  constexpr int kRounds = 25;
  // Everything the main thread reads while the callers run is made beforehand.
  struct Call {
    std::shared_ptr<Answer> answer = Answer::make();
    std::atomic<bool> returned{false};
    // Written by the handler, read after the callers have been joined.
    bool onCaller = false;
    bool beforeReturn = false;
  };
  std::vector<Call> asks(kCallers * kRounds);
  std::vector<std::shared_ptr<Answer>> saves(kCallers * kRounds);
  for (auto& save : saves) save = Answer::make();
  std::atomic<bool> running{true};

  // Fresh lists of 3, stale lists of 4, no file at all: callers meet hits and misses.
  std::thread rewriter([&] {
    for (int round = 0; running.load(); ++round) {
      if (round % 3 == 2) {
        std::filesystem::remove(cacheFile());
      } else {
        platform::writePropertyListDictionaryAtomically(
            testing::plantedCache(round % 3 == 0 ? 3 : 4, round % 3 == 0 ? 0 : 9 * 86400.0), cacheFile().string());
      }
      std::this_thread::sleep_for(200us);
    }
  });
  std::thread endpointSetter([&] {
    const auto endpoint = OrbisgroveReportCategoriesAPIManager::shared().apiEndpoint();
    while (running.load()) {
      OrbisgroveReportCategoriesAPIManager::shared().setApiEndpoint(endpoint);
      OrbisgroveSaveUserDataAPIManager::shared().setApiEndpoint(endpoint);
      std::this_thread::sleep_for(100us);
    }
  });

  std::vector<std::thread> callers;
  for (int t = 0; t < kCallers; ++t) {
    callers.emplace_back([&, t] {
      for (int round = 0; round < kRounds; ++round) {
        const auto index = static_cast<std::size_t>(t * kRounds + round);
        Call& call = asks[index];
        const auto caller = std::this_thread::get_id();
        OrbisgroveFeedbackKit::shared().getReportCategories(
            [&call, caller, record = call.answer->categoriesHandler()](auto list, auto error) {
              if (std::this_thread::get_id() == caller) {
                call.onCaller = true;
                call.beforeReturn = !call.returned.load();
              }
              record(std::move(list), std::move(error));
            });
        call.returned.store(true);
        OrbisgroveSaveUserDataAPIManager::shared().saveUserData(*testing::someReport("report-" + std::to_string(index)),
                                                                saves[index]->saveHandler());
        // Spread over many states of the file.
        std::this_thread::sleep_for(300us);
      }
    });
  }

  // The host's main thread drains the queue while the callers are still asking.
  std::vector<std::shared_ptr<Answer>> all = saves;
  for (const Call& call : asks) all.push_back(call.answer);
  EXPECT_TRUE(testing::runMainQueueUntilAnswered(all, 60s));
  for (auto& caller : callers) caller.join();
  running.store(false);
  rewriter.join();
  endpointSetter.join();

  for (std::size_t i = 0; i < asks.size(); ++i) {
    SCOPED_TRACE(i);
    const auto& ask = *asks[i].answer;
    EXPECT_EQ(ask.calls(), 1);
    EXPECT_FALSE(ask.error());
    if (asks[i].onCaller) {
      EXPECT_TRUE(asks[i].beforeReturn);
      // The planted fresh list, or the one a former answer stored; never the stale one.
      EXPECT_TRUE(ask.delivered() == 3u || ask.delivered() == 2u) << ask.delivered().value_or(0);
    } else {
      EXPECT_TRUE(ask.onMainThread());
      EXPECT_EQ(ask.delivered(), 2u);
    }
    EXPECT_EQ(saves[i]->calls(), 1);
    EXPECT_EQ(saves[i]->recordName(), "report-" + std::to_string(i));
    EXPECT_TRUE(saves[i]->onMainThread());
  }
}

// A facade whose save takes a while, and says when it is inside.
struct SlowSave : OrbisgroveFeedbackKit {
  static inline std::atomic<bool> entered{false};
  static inline std::atomic<bool> left{false};
  ~SlowSave() override { detachFromReplies(); }
  void saveReportCategories(const std::optional<OrbisgroveReportCategoriesList>& list) override {
    entered.store(true, std::memory_order_relaxed);
    std::this_thread::sleep_for(20ms);
    OrbisgroveFeedbackKit::saveReportCategories(list);
    left.store(true, std::memory_order_relaxed);
  }
};

// A host destroys its own facade on another thread before the reply comes,
// while it is handled, or while a derived facade saves. Nothing orders the
// destroyer after the reply but the facade itself (the flags are relaxed), so
// ThreadSanitizer sees any call into a destroyed instance. The reply still
// arrives and its list is stored; a save in progress is waited for.
TEST_F(ConcurrencyTest, AHostsOwnFacadeDestroyedOnAnotherThreadBeforeOrWhileItsReplyIsHandled) {
  service.setDefaultReply(Reply::json(std::string(testing::kTwoCategories)));
  struct Case {
    const char* when;
    bool waits;
    bool derived;
  };
  for (const Case& c :
       {Case{"before", false, false}, {"while handled", true, false}, {"while a derived facade saves", true, true}}) {
    SCOPED_TRACE(c.when);
    std::atomic<bool> answered{false};
    OrbisgroveFeedbackKit* kit = c.derived ? new SlowSave : new OrbisgroveFeedbackKit;
    std::filesystem::remove(cacheFile());
    kit->getReportCategories([&](auto list, auto) { answered.store(list && list->size() == 2); });
    std::thread destroyer([&] {
      auto& awaited = c.derived ? SlowSave::entered : answered;
      while (c.waits && !awaited.load(std::memory_order_relaxed)) std::this_thread::yield();
      delete kit;
      EXPECT_EQ(SlowSave::left.load(std::memory_order_relaxed), c.derived) << "destroyed while its save was running";
    });
    EXPECT_TRUE(runMainQueueUntil([&] { return answered.load(); }));
    destroyer.join();
    EXPECT_EQ(loadReportCategories().value_or(ReportCategoryCacheEntry{}).categories.size(), 2u);
  }
}

using testing::LocalHttpsService;

// The next line the helper wrote, or none once it ended or 20 seconds passed.
std::optional<std::string> readLine(int fd) {
  std::string line;
  char c = 0;
  for (;;) {
    pollfd readable{fd, POLLIN, 0};
    if (::poll(&readable, 1, 20000) != 1 || ::read(fd, &c, 1) != 1) return std::nullopt;
    if (c == '\n') return line;
    line += c;
  }
}

struct ExitRun {
  std::vector<std::string> lines;    // what the helper wrote after "exiting"
  std::chrono::milliseconds gone{};  // from "exiting" to the end of the process
};

// Runs the helper; once it has started its requests and `ready` holds, tells
// it to leave, calls `exiting` once its exit hook has begun and expects it to
// exit with status 0 within 5 seconds.
void expectPromptCleanExit(
    const LocalHttpsService& service, const std::string& mode, int count, const std::function<bool()>& ready,
    ExitRun& run, const std::function<void()>& exiting = [] {}) {
  const testing::ScratchDirectory cache("orbisgrove-exit");
  const std::string host = service.hostAndPort();
  const std::string number = std::to_string(count);
  const char* argv[] = {
      ORBISGROVE_KIT_CHILD, host.c_str(), service.caFile().c_str(), cache.path().c_str(), number.c_str(),
      mode.c_str(),         nullptr};
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
  EXPECT_EQ(readLine(fromChild[0]), "started");
  EXPECT_TRUE(ready());

  const auto go = std::chrono::steady_clock::now();
  EXPECT_EQ(::write(toChild[1], "g", 1), 1);
  std::optional<std::string> line;
  while ((line = readLine(fromChild[0])) && *line != "exiting") {
  }
  EXPECT_EQ(line, "exiting");
  const auto begun = std::chrono::steady_clock::now();
  exiting();
  int status = 0;
  bool exited = false;
  while (!exited && std::chrono::steady_clock::now() < go + 20s) {
    exited = ::waitpid(child, &status, WNOHANG) == child;
    if (!exited) std::this_thread::sleep_for(5ms);
  }
  const auto end = std::chrono::steady_clock::now();
  if (!exited) {
    ::kill(child, SIGKILL);
    ::waitpid(child, &status, 0);
  }
  while ((line = readLine(fromChild[0]))) run.lines.push_back(*line);
  run.gone = std::chrono::duration_cast<std::chrono::milliseconds>(end - begun);
  ::close(toChild[1]);
  ::close(fromChild[0]);
  ASSERT_TRUE(exited) << "the process hung at exit";
  ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_LT(end - go, 5s);
}

// Held requests, completions that end together while the first is held
// (none may start once the exit hook has returned), and answers that keep
// starting new requests (not a list: the facade never answers from the
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
      ExitRun run;
      expectPromptCleanExit(
          service, c.mode, c.count,
          [&] {
            if (busy) return service.waitForRequests(before + 60);
            if (c.mode != std::string("slow-completion")) return service.waitForRequests(before + 6);
            // Six requests are held at the service; all six replies leave at once.
            const bool held = service.waitForStalled(6);
            service.releaseStalled();
            std::this_thread::sleep_for(100ms);
            return held && service.requestCount() == before + 6;
          },
          run);
    }
  }
}

// A request in flight when the process begins to exit gets its verdict, on
// the delivery thread, when its answer comes within the exit budget, and is
// left at the budget when it does not. Nothing new starts meanwhile (each
// completion tries), and the process is gone soon after the budget.
TEST(ExitWithRequestsInFlight, AnAttemptUnderWayGetsItsVerdictWithinTheBudget) {
  constexpr int kCount = 3;
  const struct {
    const char* mode;
    bool answered;
  } cases[] = {{"in-flight", true}, {"in-flight", false}, {"host-answers", true}, {"host-silent", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.mode) + (c.answered ? ", answered" : ", not answered"));
    const bool host = std::string_view(c.mode).starts_with("host-");
    LocalHttpsService service;
    service.setDefaultReply(Reply::stalled());
    ExitRun run;
    expectPromptCleanExit(
        service, c.mode, kCount, [&] { return host || service.waitForStalled(kCount); }, run,
        [&] {
          if (c.answered && !host) service.releaseStalled();
        });
    const std::vector<std::string> verdicts(c.answered ? kCount : 0, "verdict delivery=1 exiting=1");
    ASSERT_EQ(run.lines.size(), verdicts.size() + 1);
    EXPECT_EQ(std::vector(run.lines.begin(), run.lines.end() - 1), verdicts);
    long long hookMilliseconds = 0;
    int starts = -1;
    EXPECT_EQ(std::sscanf(run.lines.back().c_str(), "starts=%d hook-ms=%lld", &starts, &hookMilliseconds), 2);
    EXPECT_EQ(starts, host ? kCount : 0);
    EXPECT_EQ(service.requestCount(), host ? 0 : std::size_t{kCount});
    // Unanswered, the requests were waited for until the budget was nearly spent.
    EXPECT_GE(hookMilliseconds, c.answered ? 0 : 1000);
    EXPECT_LT(run.gone, platform::kExitBudget + 1s);
    std::printf("[  FIGURE  ] %s, %s: the exit hook took %lld ms; the process was gone %lld ms after it began\n",
                c.mode, c.answered ? "answered" : "not answered", hookMilliseconds,
                static_cast<long long>(run.gone.count()));
  }
}

}  // namespace
}  // namespace orbisgrove
