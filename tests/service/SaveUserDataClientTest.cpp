// The save client against a local HTTPS service.
#include <orbisgrove/platform/URLError.hpp>

#include "KitServiceFixture.hpp"

namespace orbisgrove {
namespace {

using testing::Reply;

constexpr std::string_view kPrefix =
    "q=705&layer=explore&client=104&key=tV3nQe8LpZk2RwXa0MfYc7HsJd9=&apptype=native&val=";

std::shared_ptr<OrbisgroveReportCategories> category(std::string_view json) {
  return platform::JSONDecoder().decode<std::shared_ptr<OrbisgroveReportCategories>>(json);
}

class SaveUserDataClientTest : public testing::KitServiceFixture {
 protected:
  struct Outcome {
    int calls = 0;
    bool onMainThread = false;
    std::shared_ptr<OrbisgroveUserDataInfo> record;
    std::shared_ptr<const platform::Error> error;
  };

  Outcome save(const OrbisgroveSaveUserDataOptions& options) {
    Outcome outcome;
    OrbisgroveSaveUserDataAPIManager::shared().saveUserDataWithOptions(
        options, [&](std::shared_ptr<OrbisgroveUserDataInfo> record, std::shared_ptr<const platform::Error> error) {
          ++outcome.calls;
          outcome.onMainThread = platform::MainQueue::shared().isMainThread();
          outcome.record = std::move(record);
          outcome.error = std::move(error);
        });
    EXPECT_EQ(outcome.calls, 0);
    EXPECT_TRUE(runMainQueueUntil([&] { return outcome.calls > 0; }));
    EXPECT_EQ(outcome.calls, 1);
    EXPECT_TRUE(outcome.onMainThread);
    return outcome;
  }

  std::shared_ptr<OrbisgroveReportCategories> parent = category(R"({"reportId":"1","reportName":"Road closed"})");
  std::shared_ptr<OrbisgroveReportCategories> child = category(R"({"reportId":"101","reportName":"Construction"})");
};

TEST_F(SaveUserDataClientTest, SendsTheReportRawAndByteForByte) {
  service.setDefaultReply(Reply::json(R"({"response":"201"})"));
  platform::setBundleIdentifier("com.example.maps");
  (void)save(OrbisgroveSaveUserDataOptions(platform::Coordinate{28.5, 77.25}, parent, child, "x"));
  platform::setBundleIdentifier(std::nullopt);
  (void)save(OrbisgroveSaveUserDataOptions(platform::Coordinate{-33.0, 0.00001}, category("{}"), child,
                                           "Tree & branch = blocked * lane", ""));
  (void)save(OrbisgroveSaveUserDataOptions(platform::Location(0.0001, -151.0), parent, child, "", "module 7"));

  const auto requests = service.requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].body, std::string(kPrefix) +
                                  "Point on Map*401*401*28.5*77.25*x*401*com.example.maps*native*11*1*1*Road closed-1*"
                                  "Construction-101*com.example.maps");
  EXPECT_EQ(requests[1].body, std::string(kPrefix) +
                                  "Point on Map*401*401*-33.0*1e-05*Tree & branch = blocked * lane*401*401*native*11*1*"
                                  "1*-*Construction-101*401&module_id=");
  EXPECT_EQ(requests[2].body, std::string(kPrefix) +
                                  "Point on Map*401*401*0.0001*-151.0*401*401*401*native*11*1*1*Road closed-1*"
                                  "Construction-101*401&module_id=module 7");
  for (const auto& request : requests) {
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.target, "/explore-api/v1.2/");
    EXPECT_EQ(request.header("Content-Type"), "application/x-www-form-urlencoded");
  }
}

TEST_F(SaveUserDataClientTest, TheRecordIsReadBeforeSaveUserDataReturns) {
  service.enqueue(Reply::stalled());
  OrbisgroveSaveUserDataOptions options(platform::Coordinate{1, 2}, parent, child, "before");
  bool answered = false;
  OrbisgroveSaveUserDataAPIManager::shared().saveUserData(options, [&](auto, auto) { answered = true; });
  options.setFeedbackDescription("after");
  parent->setReportName("renamed");
  ASSERT_TRUE(service.waitForStalled(1));
  service.releaseStalled();
  ASSERT_TRUE(runMainQueueUntil([&] { return answered; }));
  EXPECT_NE(service.requests()[0].body.find("*before*"), std::string::npos);
  EXPECT_NE(service.requests()[0].body.find("Road closed-1"), std::string::npos);
}

TEST_F(SaveUserDataClientTest, HandsOverTheServicesRecordOrNone) {
  service.enqueue(
      Reply::json(R"({"response":"201","data":{"dataCount":12,"name":"Construction","exist":1,"id":"r-12","listId":1,)"
                  R"("time":"2026-12-06 20:00:00","url":"https://127.0.0.1/reports/r-12"}})",
                  400));
  const auto saved = save(OrbisgroveSaveUserDataOptions(platform::Coordinate{1, 2}, parent, child, "x"));
  EXPECT_FALSE(saved.error);
  ASSERT_TRUE(saved.record);
  EXPECT_EQ(saved.record->id(), "r-12");
  EXPECT_EQ(saved.record->dataCount()->int64ValueIfExact(), 12);

  service.enqueue(Reply::json(R"({"response":"201","data":null})"));
  const auto none = save(OrbisgroveSaveUserDataOptions(platform::Coordinate{1, 2}, parent, child, "x"));
  EXPECT_FALSE(none.error);
  EXPECT_FALSE(none.record);
}

TEST_F(SaveUserDataClientTest, FailuresReachTheCallerAsErrorValues) {
  const OrbisgroveSaveUserDataOptions options(platform::Coordinate{1, 2}, parent, child, "x");
  service.enqueue(Reply::json(R"({"response":"400","data":[{"error":["Latitude is missing."]}]})", 400));
  const auto rejected = save(options);
  EXPECT_FALSE(rejected.record);
  EXPECT_EQ(rejected.error->domain(), OrbisgroveFeedbackErrorDomain);
  EXPECT_EQ(rejected.error->localizedFailureReason(), "Latitude is missing.");

  service.enqueue(Reply::json(R"({"response":"201","data":[{"id":"1"}]})"));
  EXPECT_EQ(save(options).error->domain(), platform::JSONCodingErrorDomain);
  service.enqueue(Reply::json(R"({"response":"201","data":{"exist":true}})"));
  EXPECT_EQ(save(options).error->domain(), platform::JSONCodingErrorDomain);
  service.enqueue(Reply::text("Service Unavailable", 503));
  EXPECT_EQ(save(options).error->domain(), platform::JSONCodingErrorDomain);
  service.enqueue(Reply::halfBodyThenClose(R"({"response":"201","data":{"id":"cut short"}})"));
  const auto cut = save(options);
  EXPECT_EQ(cut.error->domain(), platform::URLErrorDomain);
  EXPECT_FALSE(cut.record);
}

}  // namespace
}  // namespace orbisgrove
