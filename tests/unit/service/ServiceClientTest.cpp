// The categories and save clients, on their one client core, against a
// local HTTPS service.
#include "KitServiceFixture.hpp"

namespace orbisgrove::testing {
namespace {

class ServiceClientTest : public testing::KitServiceFixture {
 protected:
  // Waits for the main queue, and answers once.
  std::shared_ptr<Answer> save(const OrbisgroveSaveUserDataOptions& options) {
    auto answer = Answer::make();
    OrbisgroveSaveUserDataAPIManager::shared().saveUserDataWithOptions(options, answer->saveHandler());
    EXPECT_EQ(answer->calls(), 0);
    testing::expectAnsweredOnce(answer);
    return answer;
  }

  std::shared_ptr<OrbisgroveReportCategories> parent = category(R"({"reportId":"1","reportName":"Road closed"})");
  std::shared_ptr<OrbisgroveReportCategories> child = category(R"({"reportId":"101","reportName":"Construction"})");
};

// The save posts the report as it was when saveUserData was called.
TEST_F(ServiceClientTest, EachSendsItsFormWithOneHeader) {
  service.setDefaultReply(Reply::json(R"({"response":"201","data":[]})"));
  for (int twice = 0; twice < 2; ++twice) {
    auto answer = Answer::make();
    const auto task = OrbisgroveReportCategoriesAPIManager::shared().getReportCategories(answer->categoriesHandler());
    EXPECT_NE(task->state(), platform::DataTask::State::suspended);
    EXPECT_EQ(task->originalRequest().timeoutInterval, 60.0);
    EXPECT_EQ(answer->calls(), 0) << "the handler must wait for the main queue";
    testing::expectAnsweredOnce(answer);
  }

  service.enqueue(Reply::stalled());
  platform::setBundleIdentifier("com.example.maps");
  OrbisgroveSaveUserDataOptions options(platform::Coordinate{28.5, 77.25}, parent, child, "Tree & branch * lane");
  bool answered = false;
  OrbisgroveSaveUserDataAPIManager::shared().saveUserData(options, [&](auto, auto) { answered = true; });
  options.setFeedbackDescription("after");
  parent->setReportName("renamed");
  ASSERT_TRUE(service.waitForStalled(1));
  service.releaseStalled();
  ASSERT_TRUE(runMainQueueUntil([&] { return answered; }));

  const std::string prefix = "layer=explore&client=104&key=tV3nQe8LpZk2RwXa0MfYc7HsJd9=&apptype=native&val=";
  const std::string bodies[] = {"q=712&" + prefix + "401*401*401", "q=712&" + prefix + "401*401*401",
                                "q=705&" + prefix +
                                    "Point on Map*401*401*28.5*77.25*Tree & branch * lane*401*com.example.maps*native*"
                                    "11*1*1*Road closed-1*Construction-101*com.example.maps"};
  const auto requests = service.requests();
  ASSERT_EQ(requests.size(), 3u);
  for (std::size_t i = 0; i < requests.size(); ++i) {
    EXPECT_EQ(requests[i].method, "POST");
    EXPECT_EQ(requests[i].target, "/explore-api/v1.2/");
    EXPECT_EQ(requests[i].body, bodies[i]);
    EXPECT_EQ(requests[i].header("Content-Type"), "application/x-www-form-urlencoded");
    for (const auto& name : requests[i].headerNames()) {
      // Accept-Encoding is the session's: it decodes what it asks for.
      EXPECT_TRUE(name == "Content-Type" || name == "Host" || name == "Content-Length" || name == "Accept-Encoding")
          << name;
    }
  }
}

TEST_F(ServiceClientTest, SaveHandsOverTheServicesRecordOrNone) {
  const OrbisgroveSaveUserDataOptions options(platform::Coordinate{1, 2}, parent, child, "x");
  service.enqueue(
      Reply::json(R"({"response":"201","data":{"dataCount":12,"name":"Construction","exist":1,"id":"r-12","listId":1,)"
                  R"("time":"2026-12-06 20:00:00","url":"https://127.0.0.1/reports/r-12"}})",
                  400));
  const auto saved = save(options);
  EXPECT_FALSE(saved->error());
  ASSERT_TRUE(saved->userData());
  EXPECT_EQ(saved->userData()->id(), "r-12");
  EXPECT_EQ(saved->userData()->dataCount()->int64ValueIfExact(), 12);

  service.enqueue(Reply::json(R"({"response":"201","data":null})"));
  const auto none = save(options);
  EXPECT_FALSE(none->error());
  EXPECT_FALSE(none->userData());

  // The record must be an object; how envelopes are judged, whatever the
  // status: ReplyRoutineTest.
  service.enqueue(Reply::json(R"({"response":"201","data":[{"id":"1"}]})"));
  EXPECT_EQ(save(options)->error()->domain(), platform::JSONCodingErrorDomain);
}

}  // namespace
}  // namespace orbisgrove::testing
