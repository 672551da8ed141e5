// A host process that the scenarios start as a child, to see what the kit
// leaves behind when a process dies or exits with work under way.
//
//   usage: orbisgrove_kit_child MODE COUNT DIRECTORY HOST:PORT CA-FILE
//
// DIRECTORY is the process's data and temporary directory; the shared
// clients talk to HOST:PORT and trust CA-FILE.
//
// The outbox's modes: "store" stores one report and dies by SIGKILL at
// OutboxStep number COUNT (-1: waits to be killed while its request is out);
// "resume" reopens the outbox, makes one delivery pass and prints each entry
// as "<state> <attempts>"; "fill" stores COUNT reports and makes one pass;
// "add" only stores them; "idle" makes one pass, idles COUNT seconds and
// prints the CPU seconds it used (a figure, not a test).
//
// The exit modes start COUNT requests, tell the parent, and on its word (a
// byte on standard input) leave while they are in flight. "return" returns
// from main, "exit-from-thread" calls exit() on another thread, "busy"
// drains the main queue, where every answer starts the next request, and
// returns from main while it does; these go through the facade and the save
// client. "slow-completion" starts requests on the platform session and
// holds the first completion until the exit hook has begun. "in-flight"
// starts requests on the platform session; "host-answers" and "host-silent"
// do the same over a transport of the child's own, which answers every
// request once the exit hook has begun, or never. Written to standard
// output: "started" once the requests are out; "exiting" once the exit hook
// has told the kit's threads; "verdict delivery=D exiting=E" from each
// platform completion (D: on the delivery thread, E: while the process
// exits); "starts=N hook-ms=M" at the end (N: requests the own transport was
// asked for, M: how long the kit's exit hook took).
//
// "async-released" and "async-stuck" enqueue COUNT reports asynchronously,
// the first held back before its commit; once the exit hook has begun they
// enqueue one more (written "late ..."), then let the held commit go, or
// never do. Each answer is written as "stored id=ID" or "stored error" (or
// "late ...") as soon as it is posted.
#ifdef ORBISGROVE_TEST_HOST_TRANSPORT
#include "transport.h"
#endif
#include <orbisgrove/OrbisgroveFeedbackKit.hpp>

#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Reports.hpp"
#include "TestSeams.hpp"
#include "kit/outbox/OutboxSteps.hpp"
#include "platform/core/ProcessLifecycle.hpp"
#include "platform/http/URLSession.hpp"

namespace {

using namespace orbisgrove;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

int killAt = -1;

void killHere(OutboxStep step) {
  if (static_cast<int>(step) == killAt) std::raise(SIGKILL);
}

double cpuSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& time) {
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

int runOutbox(const std::string& mode, int count) {
  auto& outbox = OrbisgroveFeedbackOutbox::shared();
  if (mode == "store") {
    killAt = count;
    testing::setOutboxStepHook(killHere);
    if (!outbox.enqueue(*testing::someReport("crash")).id) return 1;
    platform::MainQueue::shared().runUntil([] { return false; }, 30s);
    return 1;  // should have died
  }
  for (int i = mode == "fill" || mode == "add" ? count : 0; i > 0; --i) {
    const auto stored = outbox.enqueue(*testing::someReport("fill " + std::to_string(i)));
    if (stored.error) std::fprintf(stderr, "%s\n", stored.error->description().c_str());
    if (!stored.id) return 1;
  }
  if (mode == "add") return 0;
  bool done = false;
  outbox.deliverNow([&] { done = true; });
  platform::MainQueue::shared().runUntil([&] { return done; }, 30s);
  if (mode == "idle") {
    const double before = cpuSeconds();
    platform::MainQueue::shared().runUntil([] { return false; }, std::chrono::seconds(count));
    std::printf("%.3f s of CPU in %d s\n", cpuSeconds() - before, count);
    return 0;
  }
  for (const auto& entry : outbox.entries()) {
    std::printf("%s %lld\n", std::string(outboxEntryStateName(entry.state)).c_str(),
                static_cast<long long>(entry.attempts));
  }
  return done ? 0 : 1;
}

std::atomic<bool> exitBegun{false};
std::atomic<bool> kitHookReturned{false};
std::atomic<int> lateCompletions{0};
std::atomic<Clock::rep> exitBegunAt{0};

// The helper's own transport, for the "host-" modes.
std::mutex hostMutex;
std::vector<platform::HTTPTransportCompletion> hostCompletions;
int hostStarts = 0;
bool hostAnswers = false;

void say(const std::string& line) {
  const std::string text = line + "\n";
  if (::write(STDOUT_FILENO, text.data(), text.size()) < 0) std::_Exit(4);
}

// The asynchronous enqueue's modes: the first commit waits for `commitGoes`.
bool asyncMode = false;
bool asyncStuck = false;
std::atomic<bool> commitHeld{false};
std::atomic<bool> commitGoes{false};

void holdFirstCommit(OutboxStep step) {
  if (step != OutboxStep::beforeQueuedCommit || commitHeld.exchange(true)) return;
  for (int waited = 0; !commitGoes.load() && waited < 20000; ++waited) std::this_thread::sleep_for(1ms);
  // A slow disk, well within the exit budget; or one that never answers.
  std::this_thread::sleep_for(300ms);
  while (asyncStuck) std::this_thread::sleep_for(1s);
}

// Made before the exit: the main thread's JSON reader is gone by then.
std::shared_ptr<OrbisgroveSaveUserDataOptions> report;

void enqueueLater(const std::string& tag) {
  OrbisgroveFeedbackOutbox::shared().enqueue(*report, [tag](OrbisgroveOutboxEnqueueResult result) {
    say(tag + (result.id ? " id=" + *result.id : std::string(" error")));
  });
}

void onExitBegun() {
  exitBegunAt.store(Clock::now().time_since_epoch().count());
  exitBegun.store(true);
  say("exiting");
  if (asyncMode) {
    enqueueLater("late");
    commitGoes.store(true);
  }
  const std::lock_guard lock(hostMutex);
  // The host's network answers now, while the kit's threads wind down.
  if (hostAnswers) {
    for (auto& completion : hostCompletions) completion(platform::HTTPTransportOutcome::reply(200, {}, "{}"));
  }
}

// Registered before the kit starts, so it runs after the kit's exit hook:
// from then on no completion may start, and no answer reach the main queue.
void checkQuietAfterExit() {
  const auto begun = Clock::time_point(Clock::duration(exitBegunAt.load()));
  const auto hook = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - begun).count();
  kitHookReturned.store(true);
  const std::size_t before = platform::MainQueue::shared().pendingCount();
  std::this_thread::sleep_for(100ms);
  if (platform::MainQueue::shared().pendingCount() != before) {
    std::fputs("answers still arrived after the exit-time cleanup\n", stderr);
    std::_Exit(9);
  }
  if (lateCompletions.load() != 0) {
    std::fputs("a completion started after the exit hook had returned\n", stderr);
    std::_Exit(8);
  }
  const std::lock_guard lock(hostMutex);
  say("starts=" + std::to_string(hostStarts) + " hook-ms=" + std::to_string(hook));
}

void installOwnTransport(bool answers) {
  hostAnswers = answers;
  platform::HTTPTransport transport;
  transport.start = [](platform::HTTPTransportRequest, platform::HTTPTransportCompletion completion) {
    const std::lock_guard lock(hostMutex);
    ++hostStarts;
    hostCompletions.push_back(std::move(completion));
  };
  if (platform::installHTTPTransport(std::move(transport)) != nullptr) std::_Exit(5);
}

// Requests on the platform session. Each completion says where it ran and
// then tries to start another request, which must not start while the
// process exits. With `holdFirst` the first completion waits for the exit.
void startPlatformRequests(const platform::URL& endpoint, int count, bool holdFirst) {
  // Never destroyed: completions still use it while the process exits.
  static const auto& request = *new platform::URLRequest(*endpoint.resolving("/explore-api/v1.2/"));
  for (int i = 0; i < count; ++i) {
    platform::URLSession::shared()
        .dataTask(request,
                  [holdFirst](auto, auto, auto) {
                    if (kitHookReturned.load()) ++lateCompletions;
                    say("verdict delivery=" + std::to_string(platform::URLSession::shared().isDeliveryThread()) +
                        " exiting=" + std::to_string(platform::processExiting()));
                    platform::URLSession::shared().dataTask(request, [](auto, auto, auto) {})->resume();
                    static std::atomic<bool> first{true};
                    if (!holdFirst || !first.exchange(false)) return;
                    for (int waited = 0; !exitBegun.load() && waited < 5000; ++waited) std::this_thread::sleep_for(1ms);
                    std::this_thread::sleep_for(200ms);
                  })
        ->resume();
  }
}

void start(bool chain) {
  OrbisgroveFeedbackKit::shared().getReportCategories([chain](auto, auto) {
    if (chain) start(chain);
  });
  OrbisgroveSaveUserDataAPIManager::shared().saveUserData(*testing::someReport(), [](auto, auto) {});
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6) {
    std::fputs("usage: orbisgrove_kit_child MODE COUNT DIRECTORY HOST:PORT CA-FILE\n", stderr);
    return 2;
  }
  const std::string mode = argv[1];
  const int count = std::atoi(argv[2]);
  const bool outboxMode = mode == "store" || mode == "resume" || mode == "fill" || mode == "add" || mode == "idle";
  const bool facade = mode == "return" || mode == "exit-from-thread" || mode == "busy";
  const bool platformRequests = mode == "slow-completion" || mode == "in-flight" || mode.starts_with("host-");
  asyncMode = mode == "async-released" || mode == "async-stuck";
  asyncStuck = mode == "async-stuck";
  if (!outboxMode && !facade && !platformRequests && !asyncMode) return 2;
  if (!outboxMode) {
    // Before the kit starts: runs after its exit hook.
    std::atexit(checkQuietAfterExit);
    testing::setExitObserver(onExitBegun);
  }
  const auto endpoint = platform::URL::fromComponents("https", argv[4]);
  if (!endpoint || (!outboxMode && count <= 0)) return 2;
  platform::setConsoleSink([](std::string_view) {});
  platform::setDataDirectory(argv[3]);
  platform::setTemporaryDirectory(argv[3]);
  platform::addTrustedCertificates(argv[5]);
  setServiceHost(argv[4]);
#ifdef ORBISGROVE_TEST_HOST_TRANSPORT
  // Without the kit's libcurl, the tests' transport carries the requests.
  if (!mode.starts_with("host-") &&
      example_transport_install(example_transport_start(6, argv[5], nullptr, nullptr), nullptr) != ORBISGROVE_OK) {
    return 5;
  }
#endif
  if (outboxMode) return runOutbox(mode, count);

  if (mode.starts_with("host-")) installOwnTransport(mode == "host-answers");
  if (asyncMode) {
    // Answers are written as they are posted: no main queue runs at exit.
    platform::MainQueue::shared().setDispatcher([](const platform::MainQueue::Closure& closure) { closure(); });
    testing::setOutboxStepHook(holdFirstCommit);
    report = testing::someReport();
    for (int i = 0; i < count; ++i) enqueueLater("stored");
    for (int waited = 0; !commitHeld.load() && waited < 5000; ++waited) std::this_thread::sleep_for(1ms);
  } else if (platformRequests) {
    startPlatformRequests(*endpoint, count, mode == "slow-completion");
  } else {
    for (int i = 0; i < count; ++i) start(mode == "busy");
  }
  // Over the own transport, "started" means at the transport.
  for (int waited = 0; mode.starts_with("host-") && waited < 5000; ++waited) {
    if (const std::lock_guard lock(hostMutex); hostStarts == count) break;
    std::this_thread::sleep_for(1ms);
  }
  say("started");
  std::atomic<bool> go{false};
  std::thread reader([&] {
    char byte = 0;
    (void)::read(STDIN_FILENO, &byte, 1);
    go.store(true);
  });
  if (mode == "busy") {
    // The host's main thread, busy with answers that start new requests.
    while (!go.load()) platform::MainQueue::shared().runUntil([&] { return go.load(); }, std::chrono::milliseconds(10));
  }
  reader.join();
  if (mode == "exit-from-thread") std::thread([] { std::exit(0); }).join();
  return 0;
}
