// Helper process of the ExitWithRequestsInFlight test: starts requests, tells
// the parent, and on the parent's word leaves while they are in flight.
//
//   usage: orbisgrove_hardening_exit_helper HOST:PORT CA-FILE CACHE-DIRECTORY COUNT MODE
//
// MODE "return" returns from main, "exit-from-thread" calls exit() on another
// thread, "busy" drains the main queue, where every answer starts the next
// request, and returns from main while it does; these go through the facade
// and the save client. "slow-completion" starts requests on the platform
// session and holds the first completion until the exit hook has begun.
// "in-flight" starts requests on the platform session; "host-answers" and
// "host-silent" do the same over a transport of the helper's own, which
// answers every request once the exit hook has begun, or never.
//
// Written to standard output: "started" once the requests are out; "exiting"
// once the exit hook has told the kit's threads; "verdict delivery=D
// exiting=E" from each platform completion (D: on the delivery thread, E:
// while the process exits); "starts=N hook-ms=M" at the end (N: requests the
// own transport was asked for, M: how long the kit's exit hook took).
#include <orbisgrove/OrbisgroveFeedbackKit.hpp>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "Reports.hpp"
#include "TestSeams.hpp"
#include "platform/core/ProcessLifecycle.hpp"
#include "platform/http/URLSession.hpp"
#include "service/OrbisgroveReportCategoriesAPIManager.hpp"

namespace {

using namespace orbisgrove;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

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

void onExitBegun() {
  exitBegunAt.store(Clock::now().time_since_epoch().count());
  exitBegun.store(true);
  say("exiting");
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
  OrbisgroveSaveUserDataAPIManager::shared().saveUserData(*orbisgrove::testing::someReport(), [](auto, auto) {});
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6) {
    std::fputs("usage: orbisgrove_hardening_exit_helper HOST:PORT CA-FILE CACHE-DIRECTORY COUNT MODE\n", stderr);
    return 2;
  }
  std::atexit(checkQuietAfterExit);
  orbisgrove::testing::setExitObserver(onExitBegun);
  const auto endpoint = platform::URL::fromComponents("https", argv[1]);
  const int count = std::atoi(argv[4]);
  const std::string mode = argv[5];
  const bool facade = mode == "return" || mode == "exit-from-thread" || mode == "busy";
  const bool platformRequests = mode == "slow-completion" || mode == "in-flight" || mode.starts_with("host-");
  if (!endpoint || count <= 0 || (!facade && !platformRequests)) return 2;

  platform::setConsoleSink([](std::string_view) {});
  platform::setTemporaryDirectory(argv[3]);
  platform::addTrustedCertificates(argv[2]);
  OrbisgroveReportCategoriesAPIManager::shared().setApiEndpoint(*endpoint);
  OrbisgroveSaveUserDataAPIManager::shared().setApiEndpoint(*endpoint);
  if (mode.starts_with("host-")) installOwnTransport(mode == "host-answers");
  if (platformRequests) {
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
