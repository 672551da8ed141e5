// The main queue handed to a host's dispatcher and taken back, from C++ and
// from C, while other threads post. Runs under ThreadSanitizer in CI.
#include <orbisgrove/feedback.h>
#include <orbisgrove/platform/MainQueue.hpp>
#include <orbisgrove/platform/Settings.hpp>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace orbisgrove::platform {
namespace {

using namespace std::chrono_literals;
using HostDispatcher = std::function<void(std::function<void()> run)>;

// How a host reaches the queue: its own C++ queue, or the shared one through the C interface.
struct Front {
  const char* name;
  MainQueue& (*queue)();
  void (*install)(HostDispatcher);
  void (*remove)();
};

void PrintTo(const Front& front, std::ostream* out) { *out << front.name; }

MainQueue& ownQueue() {
  static MainQueue queue;
  return queue;
}
HostDispatcher cHost;  // the C dispatcher's context
void cDispatch(void* context, orbisgrove_closure* closure) {
  (*static_cast<HostDispatcher*>(context))([closure] { orbisgrove_closure_run(closure); });
}

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

class MainQueueTest : public ::testing::TestWithParam<Front> {
 protected:
  void SetUp() override {
    setConsoleSink([this](std::string_view line) {
      const std::lock_guard lock(mutex);
      console.emplace_back(line);
    });
  }
  void TearDown() override {
    GetParam().remove();
    queue().drain();
    setConsoleSink(nullptr);
  }
  MainQueue& queue() { return GetParam().queue(); }
  void postRecording(int number) {
    queue().post([this, number] {
      const std::lock_guard lock(mutex);
      order.push_back(number);
    });
  }
  std::vector<int> recorded() {
    const std::lock_guard lock(mutex);
    return order;
  }

  std::mutex mutex;
  std::vector<int> order;
  std::vector<std::string> console;
};

TEST_P(MainQueueTest, RemovalWaitsForADispatchInFlightButNotForItself) {
  std::atomic<bool> entered{false};
  std::atomic<bool> finished{false};
  GetParam().install([&](const std::function<void()>& run) {
    entered = true;
    std::this_thread::sleep_for(50ms);
    run();
    finished = true;
  });
  std::thread poster([&] { postRecording(1); });
  while (!entered) std::this_thread::yield();
  GetParam().remove();
  EXPECT_TRUE(finished) << "removed while the dispatcher was still running; the host would free its context";
  poster.join();

  // A dispatcher that removes itself, and a closure it runs that does.
  for (const bool fromClosure : {false, true}) {
    GetParam().install([&, fromClosure](const std::function<void()>& run) {
      if (!fromClosure) GetParam().remove();
      run();
    });
    queue().post([&, fromClosure] {
      if (fromClosure) GetParam().remove();
    });
    postRecording(2);
    EXPECT_EQ(queue().pendingCount(), 1u) << "removed: later closures wait for a drain";
    queue().drain();
  }
  EXPECT_EQ(recorded(), (std::vector<int>{1, 2, 2}));
}

TEST_P(MainQueueTest, HandOverKeepsOrderAgainstNewerPosts) {
  postRecording(1);
  postRecording(2);
  bool first = true;
  GetParam().install([&](const std::function<void()>& run) {
    if (std::exchange(first, false)) std::thread([&] { postRecording(3); }).join();
    run();
  });
  EXPECT_EQ(recorded(), (std::vector<int>{1, 2, 3}));
}

std::string frontName(const ::testing::TestParamInfo<Front>& front) {
  return front.param.name == std::string("C") ? "C" : "Cxx";
}
INSTANTIATE_TEST_SUITE_P(Fronts, MainQueueTest, ::testing::ValuesIn(kFronts), frontName);

// A C++ dispatcher may throw; the C one cannot.
class ThrowingDispatcherTest : public MainQueueTest {};

TEST_P(ThrowingDispatcherTest, RefusedClosuresStayQueuedInOrderAndAFailingOneRunsOnce) {
  for (const bool closureThrows : {false, true}) {
    SCOPED_TRACE(closureThrows ? "a closure throws" : "the dispatcher throws");
    order.clear();
    console.clear();
    postRecording(1);
    if (closureThrows) queue().post([] { throw std::runtime_error("closure broke"); });
    postRecording(2);
    bool refuse = !closureThrows;
    EXPECT_NO_THROW(GetParam().install([&](const std::function<void()>& run) {
      if (std::exchange(refuse, false)) throw std::runtime_error("loop full");
      run();
    }));
    EXPECT_EQ(recorded().size(), closureThrows ? 2u : 0u);
    postRecording(3);
    EXPECT_EQ(recorded(), (std::vector<int>{1, 2, 3}));
    ASSERT_EQ(console.size(), 1u);
    EXPECT_NE(console[0].find(closureThrows ? "closure broke" : "loop full"), std::string::npos) << console[0];
    EXPECT_EQ(queue().pendingCount(), 0u);
    GetParam().remove();
  }
}

INSTANTIATE_TEST_SUITE_P(Fronts, ThrowingDispatcherTest, ::testing::Values(kFronts[0]), frontName);

}  // namespace
}  // namespace orbisgrove::platform
