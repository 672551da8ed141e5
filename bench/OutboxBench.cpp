// The outbox: how long enqueue holds the caller's thread, waiting for its
// durable commit or handing it to the store-writes thread (median and 99th
// percentile), and how many stored reports per second it delivers to the
// local service, one at a time.
#include <benchmark/benchmark.h>

#include <orbisgrove/OrbisgroveFeedbackKit.hpp>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "model/OrbisgroveReportCategoriesResponse.hpp"

namespace orbisgrove::bench {
namespace {

using Clock = std::chrono::steady_clock;

OrbisgroveFeedbackOutbox& outbox() {
  static OrbisgroveFeedbackOutbox* const shared = [] {
    std::string directory =
        (std::getenv("TMPDIR") ? std::string(std::getenv("TMPDIR")) : std::string("/tmp")) + "/outbox-bench-XXXXXX";
    if (::mkdtemp(directory.data()) != nullptr) platform::setDataDirectory(directory);
    return &OrbisgroveFeedbackOutbox::shared();
  }();
  return *shared;
}

const OrbisgroveSaveUserDataOptions& report() {
  static const auto options = [] {
    auto categories = *platform::JSONDecoder()
                           .decode<OrbisgroveReportCategoriesResponse>(
                               R"({"data":[{"reportId":"1","reportName":"Road","parentId":"0","created":1},)"
                               R"({"reportId":"101","reportName":"Closed","parentId":"1","created":1}]})")
                           .categories();
    return std::make_shared<OrbisgroveSaveUserDataOptions>(platform::Coordinate{52.5, 13.4}, categories[0],
                                                           categories[1], "bench");
  }();
  return *options;
}

bool allFinished() {
  const auto entries = outbox().entries();
  return std::none_of(entries.begin(), entries.end(),
                      [](const auto& entry) { return entry.state == OrbisgroveOutboxEntryState::queued; });
}

void drainOutbox() {
  platform::MainQueue::shared().runUntil(allFinished, std::chrono::minutes(2));
  for (const auto& entry : outbox().entries()) outbox().discard(entry.id);
}

// The caller's time in enqueue: the synchronous form waits for the commit;
// the asynchronous one (state.range(0) == 1) only builds the body and hands
// it to the store-writes thread. Its answers are awaited, untimed, every 500.
void enqueueLatency(benchmark::State& state) {
  const bool async = state.range(0) == 1;
  outbox().setChangeHandler([](const OrbisgroveOutboxEntry&) {});
  std::vector<double> micros;
  std::size_t answered = 0;
  std::shared_ptr<const platform::Error> failure;
  const auto awaitAnswers = [&] {
    platform::MainQueue::shared().runUntil([&] { return answered == micros.size(); }, std::chrono::minutes(2));
  };
  for (auto _ : state) {
    const auto start = Clock::now();
    if (async) {
      outbox().enqueue(report(), [&](const OrbisgroveOutboxEnqueueResult& stored) {
        ++answered;
        if (!failure) failure = stored.error;
      });
    } else {
      failure = outbox().enqueue(report()).error;
      ++answered;
    }
    micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    if (micros.size() % 500 == 0) {
      state.PauseTiming();
      awaitAnswers();
      drainOutbox();
      state.ResumeTiming();
    }
    if (failure) {
      state.SkipWithError(failure->description().c_str());
      return;
    }
  }
  awaitAnswers();
  drainOutbox();
  std::sort(micros.begin(), micros.end());
  if (!micros.empty()) {
    state.counters["median_us"] = micros[micros.size() / 2];
    state.counters["p99_us"] = micros[std::min(micros.size() - 1, micros.size() * 99 / 100)];
  }
  outbox().setChangeHandler(nullptr);
}

void deliveryRate(benchmark::State& state) {
  const auto batch = static_cast<std::size_t>(state.range(0));
  outbox().setChangeHandler([](const OrbisgroveOutboxEntry&) {});
  for (auto _ : state) {
    for (std::size_t i = 0; i < batch; ++i) outbox().enqueue(report());
    platform::MainQueue::shared().runUntil(allFinished, std::chrono::minutes(2));
    state.PauseTiming();
    for (const auto& entry : outbox().entries()) outbox().discard(entry.id);
    state.ResumeTiming();
  }
  state.counters["delivered_per_s"] = benchmark::Counter(
      static_cast<double>(batch) * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  outbox().setChangeHandler(nullptr);
}

}  // namespace

BENCHMARK(enqueueLatency)->Name("Outbox/enqueue_durable")->Arg(0)->UseRealTime()->Iterations(2000);
BENCHMARK(enqueueLatency)->Name("Outbox/enqueue_async")->Arg(1)->UseRealTime()->Iterations(2000);
BENCHMARK(deliveryRate)->Name("Outbox/deliver")->Arg(200)->UseRealTime()->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace orbisgrove::bench
