// The kit's shared instances, first touched by many threads at the same
// moment: each is made once, every thread gets the same one, and it works.
// Alone in its executable, so that nothing touches them earlier.
#include <latch>

#include "KitServiceFixture.hpp"
#include "platform/http/URLSession.hpp"

namespace orbisgrove::testing {
namespace {

TEST(FirstTouchTest, SharedInstancesTouchedFromManyThreadsAtOnceAreMadeOnceAndWork) {
  testing::LocalHttpsService service;
  service.setHandler([](const testing::RecordedRequest& request) {
    if (request.body.starts_with("q=712")) return Reply::json(R"({"response":"201","data":[{"reportId":"1"}]})");
    return Reply::json(R"({"response":"201","data":{"name":"saved"}})");
  });
  const testing::ScratchDirectory directory("orbisgrove-first-touch");

  constexpr std::size_t kThreads = 12;
  using Addresses = std::vector<const void*>;
  std::vector<Addresses> seen(kThreads);
  std::vector<std::shared_ptr<Answer>> asks(kThreads);
  std::vector<std::shared_ptr<Answer>> saves(kThreads);
  std::latch start(kThreads);
  std::latch pointed(kThreads + 1);
  std::latch configured(1);
  std::vector<std::thread> threads;
  for (std::size_t t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      start.arrive_and_wait();
      // Each thread in its own order, so that every instance has a race.
      const std::vector<std::function<const void*()>> touches = {
          [] { return static_cast<const void*>(&OrbisgroveFeedbackKit::shared()); },
          [] { return static_cast<const void*>(&OrbisgroveFeedbackKit::sharedGeocoder()); },
          [] { return static_cast<const void*>(&OrbisgroveReportCategoriesAPIManager::sharedManager()); },
          [] { return static_cast<const void*>(&OrbisgroveSaveUserDataAPIManager::sharedManager()); },
          [] { return static_cast<const void*>(&platform::MainQueue::shared()); },
          [] { return static_cast<const void*>(&platform::URLSession::shared()); },
      };
      Addresses addresses(touches.size());
      for (std::size_t i = 0; i < touches.size(); ++i) {
        const std::size_t which = (i + t) % touches.size();
        addresses[which] = touches[which]();
      }
      platform::setTemporaryDirectory(directory.path());
      platform::setConsoleSink([](std::string_view) {});
      seen[t] = std::move(addresses);
      pointed.arrive_and_wait();
      configured.wait();
      asks[t] = Answer::make();
      OrbisgroveFeedbackKit::shared().getReportCategories(asks[t]->categoriesHandler());
      saves[t] = Answer::make();
      OrbisgroveSaveUserDataAPIManager::shared().saveUserData(*testing::someReport(), saves[t]->saveHandler());
    });
  }
  pointed.arrive_and_wait();
  testing::pointSharedClientsAt(service.hostAndPort(), service.caFile());
  configured.count_down();
  for (auto& thread : threads) thread.join();

  for (std::size_t t = 1; t < kThreads; ++t) EXPECT_EQ(seen[t], seen[0]) << "thread " << t;
  EXPECT_EQ(seen[0][0], seen[0][1]);
  EXPECT_EQ(seen[0][2], &OrbisgroveReportCategoriesAPIManager::shared());

  std::vector<std::shared_ptr<Answer>> all = asks;
  all.insert(all.end(), saves.begin(), saves.end());
  ASSERT_TRUE(testing::runMainQueueUntilAnswered(all));
  for (std::size_t t = 0; t < kThreads; ++t) {
    EXPECT_EQ(asks[t]->calls(), 1);
    EXPECT_EQ(asks[t]->delivered(), 1u);
    EXPECT_FALSE(asks[t]->error());
    EXPECT_EQ(saves[t]->calls(), 1);
    EXPECT_EQ(saves[t]->recordName(), "saved");
  }
}

}  // namespace
}  // namespace orbisgrove::testing
