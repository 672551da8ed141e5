// Run by the crash test: "store STEP DIR HOST CA" stores one report and dies
// by SIGKILL at OutboxStep number STEP (-1: waits to be killed while its
// request is out); "resume DIR HOST CA" reopens the outbox, makes one delivery
// pass and prints each entry as "<state> <attempts>"; "fill N DIR HOST CA"
// stores N reports and makes one pass.
#include <orbisgrove/OrbisgroveFeedbackKit.hpp>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "../support/Reports.hpp"
#include "kit/outbox/OutboxSteps.hpp"

namespace {

int killAt = -1;

void killHere(orbisgrove::OutboxStep step) {
  if (static_cast<int>(step) == killAt) std::raise(SIGKILL);
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
    setOutboxStepHookForTesting(killHere);
    if (!outbox.enqueue(*testing::someReport("crash")).id) return 1;
    platform::MainQueue::shared().runUntil([] { return false; }, std::chrono::seconds(30));
    return 1;  // should have died
  }
  for (int i = mode == "fill" ? std::atoi(argv[2]) : 0; i > 0; --i) {
    if (!outbox.enqueue(*testing::someReport("fill " + std::to_string(i))).id) return 1;
  }
  bool done = false;
  outbox.deliverNow([&] { done = true; });
  platform::MainQueue::shared().runUntil([&] { return done; }, std::chrono::seconds(30));
  for (const auto& entry : outbox.entries()) {
    std::printf("%s %lld\n", std::string(outboxEntryStateName(entry.state)).c_str(),
                static_cast<long long>(entry.attempts));
  }
  return done ? 0 : 1;
}
