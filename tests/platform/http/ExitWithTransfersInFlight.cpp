// Helper process of URLSessionExitTests: starts transfers on the shared
// session, tells the parent, and on the parent's word leaves while they are
// still in flight.
//
//   usage: orbisgrove_http_exit_helper URL CA-FILE COUNT MODE
//
// MODE "return" returns from main, "exit-from-thread" calls exit() on another
// thread, "busy" returns from main while every completion starts the next
// transfer, so that the delivery thread is inside libcurl and OpenSSL when
// the process exits.
#include "platform/http/URLSession.hpp"

#include <orbisgrove/platform/Settings.hpp>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include <unistd.h>

namespace {

using namespace orbisgrove::platform;

std::atomic<bool> exiting{false};
std::atomic<int> lateCompletions{0};

// Registered before the kit initialises libcurl, so this runs after the kit's
// own exit hook and after OpenSSL's cleanup: by then the delivery thread must
// have stopped delivering.
void checkQuietAfterExit() {
  exiting.store(true);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  if (lateCompletions.load() > 0) {
    std::fputs("completions still ran after the exit-time cleanup\n", stderr);
    std::_Exit(9);
  }
}

void start(const URL& url, int number, bool chain) {
  URLRequest request(url);
  request.httpMethod = "POST";
  request.httpBody = "n=" + std::to_string(number);
  URLSession::shared()
      .dataTask(std::move(request),
                [url, number, chain](auto, auto, auto) {
                  if (exiting.load()) ++lateCompletions;
                  if (chain) start(url, number, chain);
                })
      ->resume();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fputs("usage: orbisgrove_http_exit_helper URL CA-FILE COUNT return|exit-from-thread|busy\n", stderr);
    return 2;
  }
  std::atexit(checkQuietAfterExit);
  const auto url = URL::fromString(argv[1]);
  const int count = std::atoi(argv[3]);
  const std::string mode = argv[4];
  if (!url || count <= 0 || (mode != "return" && mode != "exit-from-thread" && mode != "busy")) return 2;

  addTrustedCertificates(argv[2]);
  for (int i = 0; i < count; ++i) start(*url, i, mode == "busy");

  const char started[] = "started\n";
  if (::write(STDOUT_FILENO, started, sizeof started - 1) < 0) return 3;
  char go = 0;
  if (::read(STDIN_FILENO, &go, 1) != 1) return 4;

  if (mode == "exit-from-thread") {
    std::thread([] { std::exit(0); }).join();
  }
  return 0;
}
