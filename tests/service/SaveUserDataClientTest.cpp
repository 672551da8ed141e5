// The save client against a local HTTPS service.
#include "KitServiceFixture.hpp"

namespace orbisgrove {
namespace {

using testing::Reply;

std::shared_ptr<OrbisgroveReportCategories> category(std::string_view json) {
  return platform::JSONDecoder().decode<std::shared_ptr<OrbisgroveReportCategories>>(json);
}

class SaveUserDataClientTest : public testing::KitServiceFixture {
 protected:
  std::shared_ptr<testing::Answer> save(const OrbisgroveSaveUserDataOptions& options) {
    auto answer = testing::Answer::make();
    OrbisgroveSaveUserDataAPIManager::shared().saveUserDataWithOptions(options, answer->saveHandler());
    EXPECT_EQ(answer->calls(), 0);
    testing::expectAnsweredOnce(answer);
    return answer;
  }

  std::shared_ptr<OrbisgroveReportCategories> parent = category(R"({"reportId":"1","reportName":"Road closed"})");
  std::shared_ptr<OrbisgroveReportCategories> child = category(R"({"reportId":"101","reportName":"Construction"})");
};

TEST_F(SaveUserDataClientTest, PostsTheReportAsItWasWhenSaveUserDataWasCalled) {
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

  const auto request = service.requests().at(0);
  EXPECT_EQ(request.method, "POST");
  EXPECT_EQ(request.target, "/explore-api/v1.2/");
  EXPECT_EQ(request.header("Content-Type"), "application/x-www-form-urlencoded");
  EXPECT_EQ(request.body,
            "q=705&layer=explore&client=104&key=tV3nQe8LpZk2RwXa0MfYc7HsJd9=&apptype=native&val=Point on "
            "Map*401*401*28.5*77.25*Tree & branch * lane*401*com.example.maps*native*11*1*1*Road closed-1*"
            "Construction-101*com.example.maps");
}

TEST_F(SaveUserDataClientTest, HandsOverTheServicesRecordOrNone) {
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

  // The record must be an object; how other envelopes are judged: ReplyRoutineTest.
  service.enqueue(Reply::json(R"({"response":"201","data":[{"id":"1"}]})"));
  EXPECT_EQ(save(options)->error()->domain(), platform::JSONCodingErrorDomain);
}

}  // namespace
}  // namespace orbisgrove
