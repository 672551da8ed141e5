// Helper process of the ExitWithRequestsInFlight test: starts category requests
// (through the facade) and submissions (through the save client), tells the
// parent, and on the parent's word leaves while they are in flight.
//
//   usage: orbisgrove_hardening_exit_helper HOST:PORT CA-FILE CACHE-DIRECTORY COUNT MODE
//
// MODE "return" returns from main, "exit-from-thread" calls exit() on another
// thread, "busy" drains the main queue, where every answer starts the next
// request, and returns from main while it does; "slow-completion" starts
// requests on the platform session, holds the first completion until the exit
// hook has begun and fails when any completion starts after that.
#include <orbisgrove/OrbisgroveFeedbackKit.hpp>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include <unistd.h>

#include "../support/Reports.hpp"
#include "platform/http/URLSession.hpp"
#include "service/OrbisgroveReportCategoriesAPIManager.hpp"

namespace {

using namespace orbisgrove;
using namespace std::chrono_literals;

// "slow-completion": the exit has begun; the held completion has returned;
// completions that started after that.
std::atomic<bool> exitBegun{false};
std::atomic<bool> heldCompletionReturned{false};
std::atomic<int> lateCompletions{0};

void startHeldCompletions(const platform::URL& endpoint, int count) {
  platform::URLRequest request(*endpoint.resolving("/explore-api/v1.2/"));
  for (int i = 0; i < count; ++i) {
    platform::URLSession::shared()
        .dataTask(request,
                  [](auto, auto, auto) {
                    if (heldCompletionReturned.load()) ++lateCompletions;
                    static std::atomic<bool> first{true};
                    if (!first.exchange(false)) return;
                    for (int waited = 0; !exitBegun.load() && waited < 5000; ++waited) std::this_thread::sleep_for(1ms);
                    // The kit's exit hook runs right after the one that set the flag.
                    std::this_thread::sleep_for(200ms);
                    heldCompletionReturned.store(true);
                  })
        ->resume();
  }
  // Runs before the kit's exit hook, which the session registered above.
  std::atexit([] { exitBegun.store(true); });
}

// Registered before the kit starts libcurl, so it runs after the kit's exit
// hook: by then no answer may reach the main queue any more.
void checkQuietAfterExit() {
  if (lateCompletions.load() != 0) {
    std::fputs("a completion started after the exit hook had begun\n", stderr);
    std::_Exit(8);
  }
  const std::size_t before = platform::MainQueue::shared().pendingCount();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  if (platform::MainQueue::shared().pendingCount() != before) {
    std::fputs("answers still arrived after the exit-time cleanup\n", stderr);
    std::_Exit(9);
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
  const auto endpoint = platform::URL::fromComponents("https", argv[1]);
  const int count = std::atoi(argv[4]);
  const std::string mode = argv[5];
  if (!endpoint || count <= 0 ||
      (mode != "return" && mode != "exit-from-thread" && mode != "busy" && mode != "slow-completion")) {
    return 2;
  }

  platform::setConsoleSink([](std::string_view) {});
  platform::setTemporaryDirectory(argv[3]);
  platform::addTrustedCertificates(argv[2]);
  OrbisgroveReportCategoriesAPIManager::shared().setApiEndpoint(*endpoint);
  OrbisgroveSaveUserDataAPIManager::shared().setApiEndpoint(*endpoint);
  if (mode == "slow-completion") {
    startHeldCompletions(*endpoint, count);
  } else {
    for (int i = 0; i < count; ++i) start(mode == "busy");
  }

  const char started[] = "started\n";
  if (::write(STDOUT_FILENO, started, sizeof started - 1) < 0) return 3;
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
