// Run by the outbox's process tests. "store STEP DIR HOST CA" stores one
// report and dies by SIGKILL at OutboxStep number STEP (-1: waits to be killed
// while its request is out); "resume DIR HOST CA" reopens the outbox, makes
// one delivery pass and prints each entry as "<state> <attempts>"; "fill N
// DIR HOST CA" stores N reports and makes one pass; "add N DIR HOST CA" only
// stores N reports; "idle SECONDS DIR HOST CA" opens the outbox, makes one
// pass, idles and prints the CPU seconds it used (a figure, not a test).
#include <orbisgrove/OrbisgroveFeedbackKit.hpp>

#include <sys/resource.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "Reports.hpp"
#include "TestSeams.hpp"
#include "kit/outbox/OutboxSteps.hpp"

namespace {

int killAt = -1;

void killHere(orbisgrove::OutboxStep step) {
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

}  // namespace

int main(int argc, char** argv) {
  using namespace orbisgrove;
  if (argc < 5) return 2;
  const std::string mode = argv[1];
  const int first = mode == "resume" ? 2 : 3;
  platform::setDataDirectory(argv[first]);
  setServiceHost(argv[first + 1]);
  platform::addTrustedCertificates(argv[first + 2]);
  auto& outbox = OrbisgroveFeedbackOutbox::shared();
  if (mode == "store") {
    killAt = std::atoi(argv[2]);
    testing::setOutboxStepHook(killHere);
    if (!outbox.enqueue(*testing::someReport("crash")).id) return 1;
    platform::MainQueue::shared().runUntil([] { return false; }, std::chrono::seconds(30));
    return 1;  // should have died
  }
  const bool adding = mode == "fill" || mode == "add";
  for (int i = adding ? std::atoi(argv[2]) : 0; i > 0; --i) {
    const auto stored = outbox.enqueue(*testing::someReport("fill " + std::to_string(i)));
    if (stored.error) std::fprintf(stderr, "%s\n", stored.error->description().c_str());
    if (!stored.id) return 1;
  }
  if (mode == "add") return 0;
  bool done = false;
  outbox.deliverNow([&] { done = true; });
  platform::MainQueue::shared().runUntil([&] { return done; }, std::chrono::seconds(30));
  if (mode == "idle") {
    const double before = cpuSeconds();
    platform::MainQueue::shared().runUntil([] { return false; }, std::chrono::seconds(std::atoi(argv[2])));
    std::printf("%.3f s of CPU in %s s\n", cpuSeconds() - before, argv[2]);
    return 0;
  }
  for (const auto& entry : outbox.entries()) {
    std::printf("%s %lld\n", std::string(outboxEntryStateName(entry.state)).c_str(),
                static_cast<long long>(entry.attempts));
  }
  return done ? 0 : 1;
}
