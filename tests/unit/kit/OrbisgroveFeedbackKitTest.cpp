// The facade: it answers from the device copy of the category list first,
// while it is fresh, then from the service, whose list it stores. (The first
// answer from the service and the next from the device: CInterfaceTest.)
#include "KitServiceFixture.hpp"

namespace orbisgrove::testing {
namespace {

class OrbisgroveFeedbackKitTest : public testing::KitServiceFixture {
 protected:
  void storeList(double secondsAgo, std::string_view json = R"([{"reportId":"cached"}])") {
    writeCache(testing::cacheEntries(platform::Date::now().secondsSince1970 - secondsAgo, json));
  }

  static constexpr double kDay = 86400;
};

TEST_F(OrbisgroveFeedbackKitTest, StaleEmptyOrUnreadableListsAreRefetched) {
  service.setDefaultReply(Reply::json(std::string(testing::kTwoCategories)));
  for (const auto& [secondsAgo, list] : {std::pair{8 * kDay + 60, "[{}]"}, {0.0, "[]"}, {0.0, "not json"}}) {
    storeList(secondsAgo, list);
    EXPECT_EQ(askFacade()->delivered(), 2u) << list;
  }
  EXPECT_EQ(service.requestCount(), 3u);

  // A time stamp in the future (the clock was set back) still counts as fresh.
  storeList(-3 * kDay);
  bool fromDevice = false;
  EXPECT_EQ(askFacade(&fromDevice)->delivered(), 1u);
  EXPECT_TRUE(fromDevice);
  EXPECT_EQ(service.requestCount(), 3u);
}

TEST_F(OrbisgroveFeedbackKitTest, ServiceFailureHandsTheErrorAndKeepsTheStaleList) {
  storeList(9 * kDay);
  const auto before = storedListData();
  service.enqueue(Reply::json(R"({"response":"500","data":[{"error":["Database unavailable."]}]})", 500));
  const auto answer = askFacade();
  EXPECT_FALSE(answer->categories());
  ASSERT_TRUE(answer->error());
  EXPECT_EQ(answer->error()->localizedFailureReason(), "Database unavailable.");
  EXPECT_EQ(storedListData(), before);
}

TEST_F(OrbisgroveFeedbackKitTest, EmptyListIsStoredAndHandedOverThenAskedForAgain) {
  service.enqueue(Reply::json(R"({"response":"201","data":[]})"));
  EXPECT_EQ(askFacade()->delivered(), 0u);
  EXPECT_EQ(storedListData(), "[]");

  service.enqueue(Reply::json(R"({"response":"201"})"));
  const auto none = askFacade();
  EXPECT_FALSE(none->categories());
  EXPECT_FALSE(none->error());
  EXPECT_EQ(service.requestCount(), 2u);
  EXPECT_EQ(storedListData(), "[]");
}

TEST_F(OrbisgroveFeedbackKitTest, CallersThatWantNoAnswerMayPassAnEmptyHandler) {
  service.setDefaultReply(Reply::json(std::string(testing::kTwoCategories)));
  OrbisgroveFeedbackKit::shared().getReportCategories(nullptr);
  auto category = (*askFacade()->categories())[0];
  OrbisgroveSaveUserDataAPIManager::shared().saveUserData(
      OrbisgroveSaveUserDataOptions({52.5, 13.4}, category, category, "x"), nullptr);  // a braced coordinate
  ASSERT_TRUE(service.waitForRequests(3));
  EXPECT_NO_THROW(platform::MainQueue::shared().runUntil([] { return false; }, std::chrono::milliseconds(300)));
}

}  // namespace
}  // namespace orbisgrove::testing
