// Run by the crash test: "store STEP DIR HOST CA" stores one report and dies
// by SIGKILL at STEP ("wire": waits to be killed while its request is out);
// "resume DIR HOST CA" reopens the outbox, makes one delivery pass and prints
// each entry as "<state> <attempts>"; "fill N DIR HOST CA" stores N reports
// and makes one pass.
#include <orbisgrove/OrbisgroveFeedbackKit.hpp>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "OutboxTestSupport.hpp"
#include "kit/outbox/OutboxSteps.hpp"

namespace {

orbisgrove::OutboxStep killAt = orbisgrove::OutboxStep::beforeCommit;

void killHere(orbisgrove::OutboxStep step) {
  if (step == killAt) std::raise(SIGKILL);
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
    const std::map<std::string, OutboxStep> steps{{"beforeCommit", OutboxStep::beforeCommit},
                                                  {"afterCommit", OutboxStep::afterCommit},
                                                  {"afterInFlightMark", OutboxStep::afterInFlightMark},
                                                  {"afterReply", OutboxStep::afterReply},
                                                  {"afterOutcomeMark", OutboxStep::afterOutcomeMark}};
    if (const auto step = steps.find(argv[2]); step != steps.end()) {
      killAt = step->second;
      setOutboxStepHookForTesting(killHere);
    }
    if (!outbox.enqueue(*testing::reportWith("crash")).id) return 1;
    platform::MainQueue::shared().runUntil([] { return false; }, std::chrono::seconds(30));
    return 1;  // should have died
  }
  if (mode == "fill") {
    for (int i = std::atoi(argv[2]); i > 0; --i) {
      if (!outbox.enqueue(*testing::reportWith("fill " + std::to_string(i))).id) return 1;
    }
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
