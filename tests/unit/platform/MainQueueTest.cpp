// The main queue handed to a host's dispatcher and taken back, from C++ and
// from C, while other threads post. Runs under ThreadSanitizer in CI.
#include "TestPrelude.hpp"

#include <orbisgrove/feedback.h>
#include <orbisgrove/platform/MainQueue.hpp>
#include <orbisgrove/platform/Settings.hpp>

namespace orbisgrove::platform {
namespace {

using namespace std::chrono_literals;
using HostDispatcher = std::function<void(std::function<void()> run)>;

MainQueue& ownQueue() {
  static MainQueue queue;
  return queue;
}
HostDispatcher cHost;  // the C dispatcher's context
void cDispatch(void* context, orbisgrove_closure* closure) {
  (*static_cast<HostDispatcher*>(context))([closure] { orbisgrove_closure_run(closure); });
}

// How a host reaches the queue: its own C++ queue, or the shared one through the C interface.
struct Front {
  const char* name;
  MainQueue& (*queue)();
  void (*install)(HostDispatcher);
  void (*remove)();
};
const Front kFronts[] = {
    {"C++", ownQueue,
     [](HostDispatcher host) {
       ownQueue().setDispatcher([host = std::move(host)](MainQueue::Closure closure) { host(std::move(closure)); });
     },
     [] { ownQueue().setDispatcher(nullptr); }},
    {"C", MainQueue::shared,
     [](HostDispatcher host) {
       cHost = std::move(host);
       ASSERT_EQ(orbisgrove_main_queue_set_dispatcher(cDispatch, &cHost), ORBISGROVE_OK);
     },
     [] { ASSERT_EQ(orbisgrove_main_queue_set_dispatcher(nullptr, nullptr), ORBISGROVE_OK); }},
};

// What the closures and the console saw, on any thread.
struct Record {
  std::mutex mutex;
  std::vector<int> order;
  std::vector<std::string> console;
  Record() {
    setConsoleSink([this](std::string_view line) {
      const std::lock_guard lock(mutex);
      console.emplace_back(line);
    });
  }
  ~Record() { setConsoleSink(nullptr); }
  void post(MainQueue& queue, int number) {
    queue.post([this, number] {
      const std::lock_guard lock(mutex);
      order.push_back(number);
    });
  }
};

TEST(MainQueueTest, HandOverKeepsOrderAndRemovalWaitsForADispatchInFlightButNotForItself) {
  for (const Front& front : kFronts) {
    SCOPED_TRACE(front.name);
    Record record;
    record.post(front.queue(), 1);
    record.post(front.queue(), 2);
    bool first = true;
    front.install([&](const std::function<void()>& run) {
      if (std::exchange(first, false)) std::thread([&] { record.post(front.queue(), 3); }).join();
      run();
    });
    EXPECT_EQ(record.order, (std::vector<int>{1, 2, 3})) << "a newer post overtook the hand-over";

    std::atomic<bool> entered{false};
    std::atomic<bool> finished{false};
    front.install([&](const std::function<void()>& run) {
      entered = true;
      std::this_thread::sleep_for(50ms);
      run();
      finished = true;
    });
    std::thread poster([&] { record.post(front.queue(), 4); });
    while (!entered) std::this_thread::yield();
    front.remove();
    EXPECT_TRUE(finished) << "removed while the dispatcher was still running; the host would free its context";
    poster.join();

    // A dispatcher that removes itself, and a closure it runs that does.
    for (const bool fromClosure : {false, true}) {
      front.install([&, fromClosure](const std::function<void()>& run) {
        if (!fromClosure) front.remove();
        run();
      });
      front.queue().post([&, fromClosure] {
        if (fromClosure) front.remove();
      });
      record.post(front.queue(), 5);
      EXPECT_EQ(front.queue().pendingCount(), 1u) << "removed: later closures wait for a drain";
      front.queue().drain();
    }
    EXPECT_EQ(record.order, (std::vector<int>{1, 2, 3, 4, 5, 5}));
  }
}

// A C++ dispatcher may throw; the C one cannot.
TEST(MainQueueTest, RefusedClosuresStayQueuedInOrderAndAFailingOneRunsOnce) {
  const Front& front = kFronts[0];
  for (const bool closureThrows : {false, true}) {
    SCOPED_TRACE(closureThrows ? "a closure throws" : "the dispatcher throws");
    Record record;
    record.post(front.queue(), 1);
    if (closureThrows) front.queue().post([] { throw std::runtime_error("closure broke"); });
    record.post(front.queue(), 2);
    bool refuse = !closureThrows;
    EXPECT_NO_THROW(front.install([&](const std::function<void()>& run) {
      if (std::exchange(refuse, false)) throw std::runtime_error("loop full");
      run();
    }));
    record.post(front.queue(), 3);
    front.remove();
    EXPECT_EQ(record.order, (std::vector<int>{1, 2, 3}));
    ASSERT_EQ(record.console.size(), 1u);
    EXPECT_NE(record.console[0].find(closureThrows ? "closure broke" : "loop full"), std::string::npos);
  }
}

}  // namespace
}  // namespace orbisgrove::platform
