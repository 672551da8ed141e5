// The delivery loop's timers, on which the outbox waits for due times: they
// run on the shared session's delivery thread, in deadline order, and not
// before their time.
#include "TestPrelude.hpp"

#include "platform/http/DeliveryTimers.hpp"
#include "platform/http/URLSession.hpp"

namespace orbisgrove::platform {
namespace {

TEST(DeliveryLoopTest, RunsDueWorkInDeadlineOrderOnTheDeliveryThread) {
  auto& session = URLSession::shared();
  std::mutex mutex;
  std::vector<int> order;
  bool onDeliveryThread = true;
  const auto start = std::chrono::steady_clock::now();
  std::chrono::steady_clock::duration lateStart{};
  for (const int delay : {120, 40, 0}) {
    sharedDeliveryTimers().schedule(start + std::chrono::milliseconds(delay), [&, delay] {
      const std::lock_guard lock(mutex);
      order.push_back(delay);
      onDeliveryThread = onDeliveryThread && session.isDeliveryThread();
      if (delay == 120) lateStart = std::chrono::steady_clock::now() - start;
    });
  }
  for (int wait = 0; wait < 500; ++wait) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const std::lock_guard lock(mutex);
    if (order.size() == 3) break;
  }
  const std::lock_guard lock(mutex);
  EXPECT_EQ(order, (std::vector<int>{0, 40, 120}));
  EXPECT_TRUE(onDeliveryThread);
  EXPECT_GE(lateStart, std::chrono::milliseconds(120));
}

}  // namespace
}  // namespace orbisgrove::platform
