// The facade: device cache first, then the service, end to end.
#include "../service/KitServiceFixture.hpp"
#include "kit/ReportCategoryCache.hpp"
#include "platform/core/Date.hpp"
#include "platform/files/PropertyList.hpp"

namespace orbisgrove {
namespace {

using testing::Reply;

constexpr std::string_view kTwoCategories =
    R"({"response":"201","data":[{"reportId":"1","reportName":"Road","parentId":"0","created":1},)"
    R"({"reportId":"101","reportName":"Closed","parentId":"1","created":2}]})";

class FacadeTest : public testing::KitServiceFixture {
 protected:
  struct Answer {
    int calls = 0;
    bool beforeReturn = false;
    bool onMainThread = false;
    std::optional<OrbisgroveReportCategoriesList> categories;
    std::shared_ptr<const platform::Error> error;
  };

  Answer ask(OrbisgroveFeedbackKit& kit = OrbisgroveFeedbackKit::shared()) {
    Answer answer;
    kit.getReportCategories(
        [&](std::optional<OrbisgroveReportCategoriesList> categories, std::shared_ptr<const platform::Error> error) {
          ++answer.calls;
          answer.onMainThread = platform::MainQueue::shared().isMainThread();
          answer.categories = std::move(categories);
          answer.error = std::move(error);
        });
    answer.beforeReturn = answer.calls > 0;
    EXPECT_TRUE(runMainQueueUntil([&] { return answer.calls > 0; }));
    EXPECT_EQ(answer.calls, 1);
    return answer;
  }

  void storeList(double secondsAgo, std::string_view json = R"([{"reportId":"cached"}])") {
    platform::PropertyListDictionary dictionary;
    dictionary.setData(kReportCategoriesKey, json);
    dictionary.setReal(kTimestampKey, platform::Date::now().secondsSince1970 - secondsAgo);
    ASSERT_TRUE(platform::writePropertyListDictionaryAtomically(dictionary, cacheFile().string()));
  }

  std::optional<std::string> storedListData() {
    const auto stored = platform::readPropertyListDictionary(cacheFile().string());
    return stored ? stored->data(kReportCategoriesKey) : std::nullopt;
  }

  static constexpr double kDay = 86400;
};

TEST_F(FacadeTest, FirstCallAsksTheServiceAndTheNextIsAnsweredFromTheDevice) {
  service.setDefaultReply(Reply::json(std::string(kTwoCategories)));
  const auto first = ask();
  EXPECT_FALSE(first.beforeReturn);
  EXPECT_TRUE(first.onMainThread);
  EXPECT_FALSE(first.error);
  ASSERT_TRUE(first.categories);
  EXPECT_EQ(first.categories->size(), 2u);
  EXPECT_TRUE(storedListData());

  const auto second = ask();
  EXPECT_TRUE(second.beforeReturn);
  ASSERT_TRUE(second.categories);
  ASSERT_EQ(second.categories->size(), 2u);
  EXPECT_EQ((*second.categories)[1]->reportName(), "Closed");
  EXPECT_EQ(service.requestCount(), 1u);
  EXPECT_EQ(console.front(), cacheFile().string());
}

TEST_F(FacadeTest, AnswersFromTheCacheOnAnyThreadBeforeReturning) {
  storeList(7 * kDay);
  std::optional<OrbisgroveReportCategoriesList> categories;
  std::thread caller([&] {
    OrbisgroveFeedbackKit::shared().getReportCategories([&](auto list, auto) { categories = std::move(list); });
    EXPECT_TRUE(categories) << "answered on the calling thread before returning";
  });
  caller.join();
  ASSERT_TRUE(categories);
  EXPECT_EQ((*categories)[0]->reportId(), "cached");
  EXPECT_EQ(service.requestCount(), 0u);
}

TEST_F(FacadeTest, StaleEmptyOrUnreadableListsAreRefetched) {
  service.setDefaultReply(Reply::json(std::string(kTwoCategories)));
  storeList(8 * kDay + 60);
  EXPECT_EQ(ask().categories->size(), 2u);
  storeList(0, "[]");
  EXPECT_EQ(ask().categories->size(), 2u);
  storeList(0, "not json");
  EXPECT_EQ(ask().categories->size(), 2u);
  EXPECT_EQ(service.requestCount(), 3u);

  // A time stamp in the future (the clock was set back) still counts as fresh.
  storeList(-3 * kDay);
  EXPECT_TRUE(ask().beforeReturn);
  EXPECT_EQ(service.requestCount(), 3u);
}

TEST_F(FacadeTest, ServiceFailureHandsTheErrorAndKeepsTheStaleList) {
  storeList(9 * kDay);
  const auto before = storedListData();
  service.enqueue(Reply::json(R"({"response":"500","data":[{"error":["Database unavailable."]}]})", 500));
  const auto answer = ask();
  EXPECT_FALSE(answer.categories);
  ASSERT_TRUE(answer.error);
  EXPECT_EQ(answer.error->localizedFailureReason(), "Database unavailable.");
  EXPECT_EQ(storedListData(), before);
}

TEST_F(FacadeTest, EmptyListIsStoredAndHandedOverThenAskedForAgain) {
  service.enqueue(Reply::json(R"({"response":"201","data":[]})"));
  const auto empty = ask();
  ASSERT_TRUE(empty.categories);
  EXPECT_TRUE(empty.categories->empty());
  EXPECT_EQ(storedListData(), "[]");

  service.enqueue(Reply::json(R"({"response":"201"})"));
  const auto none = ask();
  EXPECT_FALSE(none.categories);
  EXPECT_FALSE(none.error);
  EXPECT_EQ(service.requestCount(), 2u);
  EXPECT_EQ(storedListData(), "[]");
}

TEST_F(FacadeTest, ReplyOutlivingAHostsOwnFacadeStillArrivesAndIsStored) {
  service.enqueue(Reply::json(std::string(kTwoCategories)).stalledUntilReleased());
  bool answered = false;
  {
    OrbisgroveFeedbackKit kit;
    kit.getReportCategories([&](auto list, auto) { answered = list && list->size() == 2; });
  }
  ASSERT_TRUE(service.waitForStalled(1));
  service.releaseStalled();
  ASSERT_TRUE(runMainQueueUntil([&] { return answered; }));
  EXPECT_TRUE(storedListData());
}

TEST_F(FacadeTest, CallersThatWantNoAnswerMayPassAnEmptyHandler) {
  service.setDefaultReply(Reply::json(std::string(kTwoCategories)));
  OrbisgroveFeedbackKit::shared().getReportCategories(nullptr);
  auto category = (*ask().categories)[0];
  OrbisgroveSaveUserDataAPIManager::shared().saveUserData(
      OrbisgroveSaveUserDataOptions(platform::Coordinate{1, 2}, category, category, "x"), nullptr);
  ASSERT_TRUE(service.waitForRequests(3));
  EXPECT_NO_THROW(platform::MainQueue::shared().runUntil([] { return false; }, std::chrono::milliseconds(300)));
}

}  // namespace
}  // namespace orbisgrove
