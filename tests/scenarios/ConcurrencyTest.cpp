// Many host threads at once: category requests (answered from the device or
// from the service), submissions, a main queue being drained, and the cache
// file rewritten and removed under them. Every request is answered exactly
// once, with its own answer, on the thread its kind of answer belongs to.
// Also a host's own facade destroyed under its reply, and reports enqueued
// into the outbox while it delivers. Runs under ThreadSanitizer in CI.
#include <regex>

#include "KitServiceFixture.hpp"

namespace orbisgrove::testing {
namespace {

using namespace std::chrono_literals;

using ConcurrencyTest = testing::KitServiceFixture;

TEST_F(ConcurrencyTest, ThreadsAskAndSubmitWhileTheCacheIsRewrittenAndTheMainQueueDrains) {
  // Each submission is answered with its own name, so a mixed-up answer shows.
  service.setHandler([reportName = std::regex("report-[0-9]+")](const testing::RecordedRequest& request) {
    std::smatch found;
    if (!std::regex_search(request.body, found, reportName)) return Reply::json(std::string(testing::kTwoCategories));
    return Reply::json(R"({"response":"201","data":{"name":")" + found.str() + R"("}})");
  });

  constexpr int kCallers = 6;
  constexpr int kRounds = 25;
  // Everything the main thread reads while the callers run is made beforehand.
  struct Call {
    std::shared_ptr<Answer> answer = Answer::make();
    std::atomic<bool> returned{false};
    // Written by the handler, read after the callers have been joined.
    bool onCaller = false;
    bool beforeReturn = false;
  };
  std::vector<Call> asks(kCallers * kRounds);
  std::vector<std::shared_ptr<Answer>> saves(kCallers * kRounds);
  for (auto& save : saves) save = Answer::make();
  std::atomic<bool> running{true};

  // Fresh lists of 3, stale lists of 4, no file at all: callers meet hits and misses.
  std::thread rewriter([&] {
    for (int round = 0; running.load(); ++round) {
      if (round % 3 == 2) {
        std::filesystem::remove(cacheFile());
      } else {
        platform::writePropertyListDictionaryAtomically(
            testing::plantedCache(round % 3 == 0 ? 3 : 4, round % 3 == 0 ? 0 : 9 * 86400.0), cacheFile().string());
      }
      std::this_thread::sleep_for(200us);
    }
  });
  std::thread endpointSetter([&] {
    const auto endpoint = OrbisgroveReportCategoriesAPIManager::shared().apiEndpoint();
    while (running.load()) {
      OrbisgroveReportCategoriesAPIManager::shared().setApiEndpoint(endpoint);
      OrbisgroveSaveUserDataAPIManager::shared().setApiEndpoint(endpoint);
      std::this_thread::sleep_for(100us);
    }
  });

  std::vector<std::thread> callers;
  for (int t = 0; t < kCallers; ++t) {
    callers.emplace_back([&, t] {
      for (int round = 0; round < kRounds; ++round) {
        const auto index = static_cast<std::size_t>(t * kRounds + round);
        Call& call = asks[index];
        const auto caller = std::this_thread::get_id();
        OrbisgroveFeedbackKit::shared().getReportCategories(
            [&call, caller, record = call.answer->categoriesHandler()](auto list, auto error) {
              if (std::this_thread::get_id() == caller) {
                call.onCaller = true;
                call.beforeReturn = !call.returned.load();
              }
              record(std::move(list), std::move(error));
            });
        call.returned.store(true);
        OrbisgroveSaveUserDataAPIManager::shared().saveUserData(*testing::someReport("report-" + std::to_string(index)),
                                                                saves[index]->saveHandler());
        // Spread over many states of the file.
        std::this_thread::sleep_for(300us);
      }
    });
  }

  // The host's main thread drains the queue while the callers are still asking.
  std::vector<std::shared_ptr<Answer>> all = saves;
  for (const Call& call : asks) all.push_back(call.answer);
  EXPECT_TRUE(testing::runMainQueueUntilAnswered(all, 60s));
  for (auto& caller : callers) caller.join();
  running.store(false);
  rewriter.join();
  endpointSetter.join();

  for (std::size_t i = 0; i < asks.size(); ++i) {
    SCOPED_TRACE(i);
    const auto& ask = *asks[i].answer;
    EXPECT_EQ(ask.calls(), 1);
    EXPECT_FALSE(ask.error());
    if (asks[i].onCaller) {
      EXPECT_TRUE(asks[i].beforeReturn);
      // The planted fresh list, or the one a former answer stored; never the stale one.
      EXPECT_TRUE(ask.delivered() == 3u || ask.delivered() == 2u) << ask.delivered().value_or(0);
    } else {
      EXPECT_TRUE(ask.onMainThread());
      EXPECT_EQ(ask.delivered(), 2u);
    }
    EXPECT_EQ(saves[i]->calls(), 1);
    EXPECT_EQ(saves[i]->recordName(), "report-" + std::to_string(i));
    EXPECT_TRUE(saves[i]->onMainThread());
  }
}

// A facade whose save takes a while, and says when it is inside.
struct SlowSave : OrbisgroveFeedbackKit {
  static inline std::atomic<bool> entered{false};
  static inline std::atomic<bool> left{false};
  ~SlowSave() override { detachFromReplies(); }
  void saveReportCategories(const std::optional<OrbisgroveReportCategoriesList>& list) override {
    entered.store(true, std::memory_order_relaxed);
    std::this_thread::sleep_for(20ms);
    OrbisgroveFeedbackKit::saveReportCategories(list);
    left.store(true, std::memory_order_relaxed);
  }
};

// A host destroys its own facade on another thread before the reply comes,
// while it is handled, or while a derived facade saves. Nothing orders the
// destroyer after the reply but the facade itself (the flags are relaxed), so
// ThreadSanitizer sees any call into a destroyed instance. The reply still
// arrives and its list is stored; a save in progress is waited for.
TEST_F(ConcurrencyTest, AHostsOwnFacadeDestroyedOnAnotherThreadBeforeOrWhileItsReplyIsHandled) {
  service.setDefaultReply(Reply::json(std::string(testing::kTwoCategories)));
  struct Case {
    const char* when;
    bool waits;
    bool derived;
  };
  for (const Case& c :
       {Case{"before", false, false}, {"while handled", true, false}, {"while a derived facade saves", true, true}}) {
    SCOPED_TRACE(c.when);
    std::atomic<bool> answered{false};
    OrbisgroveFeedbackKit* kit = c.derived ? new SlowSave : new OrbisgroveFeedbackKit;
    std::filesystem::remove(cacheFile());
    kit->getReportCategories([&](auto list, auto) { answered.store(list && list->size() == 2); });
    std::thread destroyer([&] {
      auto& awaited = c.derived ? SlowSave::entered : answered;
      while (c.waits && !awaited.load(std::memory_order_relaxed)) std::this_thread::yield();
      delete kit;
      EXPECT_EQ(SlowSave::left.load(std::memory_order_relaxed), c.derived) << "destroyed while its save was running";
    });
    EXPECT_TRUE(runMainQueueUntil([&] { return answered.load(); }));
    destroyer.join();
    EXPECT_EQ(loadReportCategories().value_or(ReportCategoryCacheEntry{}).categories.size(), 2u);
  }
}

// Many threads store reports while the outbox delivers.
TEST_F(ConcurrencyTest, ThreadsEnqueueIntoTheOutboxWhileItDelivers) {
  service.setDefaultReply(Reply::json(R"({"response":"201"})"));
  platform::setDataDirectory(cacheDirectory.string());
  auto& outbox = OrbisgroveFeedbackOutbox::shared();
  outbox.setChangeHandler([](const OrbisgroveOutboxEntry&) {});  // each change wakes the wait below
  std::atomic<int> stored{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 10; ++i) {
        if (outbox.enqueue(*testing::someReport("t" + std::to_string(t) + "-" + std::to_string(i))).id) ++stored;
        (void)outbox.entries();
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(stored.load(), 80);
  EXPECT_TRUE(platform::MainQueue::shared().runUntil(
      [&] {
        const auto entries = outbox.entries();
        return std::all_of(entries.begin(), entries.end(),
                           [](const auto& e) { return e.state == OrbisgroveOutboxEntryState::delivered; });
      },
      60s));
  EXPECT_EQ(service.requestCount(), 80U);
  outbox.setChangeHandler(nullptr);
}

}  // namespace
}  // namespace orbisgrove::testing
