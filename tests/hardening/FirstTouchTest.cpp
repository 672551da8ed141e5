// The kit's shared instances, first touched by many threads at the same
// moment: each is made once, every thread gets the same one, and it works.
// Alone in its executable, so that nothing touches them earlier.
#include <LocalHttpsService.hpp>

#include <gtest/gtest.h>

#include <orbisgrove/OrbisgroveFeedbackKit.hpp>

#include <atomic>
#include <filesystem>
#include <latch>
#include <set>
#include <thread>
#include <vector>

#include "HardeningSupport.hpp"
#include "platform/http/URLSession.hpp"
#include "service/OrbisgroveReportCategoriesAPIManager.hpp"

namespace orbisgrove {
namespace {

using testing::Answer;
using testing::Reply;

TEST(SharedInstances, FirstTouchedFromManyThreadsAtOnceAreMadeOnceAndWork) {
  testing::LocalHttpsService service;
  service.setHandler([](const testing::RecordedRequest& request) {
    if (request.body.starts_with("q=712")) return Reply::json(R"({"response":"201","data":[{"reportId":"1"}]})");
    return Reply::json(R"({"response":"201","data":{"name":"saved"}})");
  });
  std::string directory = (std::filesystem::temp_directory_path() / "orbisgrove-first-touch-XXXXXX").string();
  ASSERT_TRUE(::mkdtemp(directory.data()));

  constexpr int kThreads = 12;
  using Addresses = std::vector<const void*>;
  std::vector<Addresses> seen(kThreads);
  std::vector<std::shared_ptr<Answer>> asks(kThreads);
  std::vector<std::shared_ptr<Answer>> saves(kThreads);
  std::latch start(kThreads);
  std::latch pointed(kThreads + 1);
  std::latch configured(1);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
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
        const std::size_t which = (i + static_cast<std::size_t>(t)) % touches.size();
        addresses[which] = touches[which]();
      }
      platform::setTemporaryDirectory(directory);
      platform::setConsoleSink([](std::string_view) {});
      seen[static_cast<std::size_t>(t)] = std::move(addresses);
      pointed.arrive_and_wait();
      configured.wait();
      asks[static_cast<std::size_t>(t)] = Answer::make();
      OrbisgroveFeedbackKit::shared().getReportCategories(asks[static_cast<std::size_t>(t)]->categoriesHandler());
      saves[static_cast<std::size_t>(t)] = Answer::make();
      OrbisgroveSaveUserDataAPIManager::shared().saveUserData(*testing::someReport(),
                                                              saves[static_cast<std::size_t>(t)]->saveHandler());
    });
  }
  pointed.arrive_and_wait();
  testing::pointSharedClientsAt(service.hostAndPort(), service.caFile());
  configured.count_down();
  for (auto& thread : threads) thread.join();

  for (int t = 1; t < kThreads; ++t) EXPECT_EQ(seen[static_cast<std::size_t>(t)], seen[0]) << "thread " << t;
  EXPECT_EQ(seen[0][0], seen[0][1]);
  EXPECT_EQ(seen[0][2], &OrbisgroveReportCategoriesAPIManager::shared());

  ASSERT_TRUE(platform::MainQueue::shared().runUntil(
      [&] {
        for (int t = 0; t < kThreads; ++t) {
          if (asks[static_cast<std::size_t>(t)]->calls() == 0 || saves[static_cast<std::size_t>(t)]->calls() == 0) {
            return false;
          }
        }
        return true;
      },
      std::chrono::seconds(30)));
  platform::MainQueue::shared().runUntil([] { return false; }, std::chrono::milliseconds(50));
  for (int t = 0; t < kThreads; ++t) {
    const auto& ask = *asks[static_cast<std::size_t>(t)];
    EXPECT_EQ(ask.calls(), 1);
    EXPECT_EQ(ask.delivered(), 1u);
    EXPECT_FALSE(ask.error());
    EXPECT_EQ(saves[static_cast<std::size_t>(t)]->calls(), 1);
    EXPECT_EQ(saves[static_cast<std::size_t>(t)]->recordName(), "saved");
  }
  std::error_code ignored;
  std::filesystem::remove_all(directory, ignored);
}

}  // namespace
}  // namespace orbisgrove
