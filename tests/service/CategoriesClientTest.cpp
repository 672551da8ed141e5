// The categories client against a local HTTPS service.
#include "KitServiceFixture.hpp"

namespace orbisgrove {
namespace {

using testing::Reply;

using testing::Answer;

class CategoriesClientTest : public testing::KitServiceFixture {
 protected:
  std::shared_ptr<Answer> fetch() {
    auto answer = Answer::make();
    OrbisgroveReportCategoriesAPIManager::shared().getReportCategories(answer->categoriesHandler());
    EXPECT_EQ(answer->calls(), 0) << "the handler must wait for the main queue";
    testing::expectAnsweredOnce(answer);
    return answer;
  }
};

TEST_F(CategoriesClientTest, SendsTheFixedFormWithOneHeader) {
  service.setDefaultReply(Reply::json(R"({"response":"201","data":[]})"));
  auto first = Answer::make();
  const auto task = OrbisgroveReportCategoriesAPIManager::shared().getReportCategories(first->categoriesHandler());
  EXPECT_NE(task->state(), platform::DataTask::State::suspended);
  EXPECT_EQ(task->originalRequest().timeoutInterval, 60.0);
  testing::expectAnsweredOnce(first);
  (void)fetch();

  ASSERT_EQ(service.requestCount(), 2u);
  for (const auto& request : service.requests()) {
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.target, "/explore-api/v1.2/");
    EXPECT_EQ(request.body,
              "q=712&layer=explore&client=104&key=tV3nQe8LpZk2RwXa0MfYc7HsJd9=&apptype=native&val=401*401*401");
    EXPECT_EQ(request.header("Content-Type"), "application/x-www-form-urlencoded");
    for (const auto& name : request.headerNames()) {
      EXPECT_TRUE(name == "Content-Type" || name == "Host" || name == "Content-Length") << name;
    }
  }
}

// That the rate-limit fields are found over HTTP/2 too: URLSessionReplies.
TEST_F(CategoriesClientTest, RepliesAreJudgedByTheirEnvelopeAndReachTheCallerOnce) {
  service.enqueue(
      Reply::json(R"({"response":"201","data":[{"reportId":"1","reportName":"Road"},{"reportId":"2"}]})", 500));
  const auto listed = fetch();
  EXPECT_FALSE(listed->error());
  ASSERT_EQ(listed->delivered(), 2u);
  EXPECT_EQ((*listed->categories())[0]->reportName(), "Road");

  service.enqueue(Reply::json(R"({"response":"201"})"));
  const auto none = fetch();
  EXPECT_FALSE(none->error());
  EXPECT_FALSE(none->categories());

  service.enqueue(Reply::json(R"({"response":"201","data":[{"reportId":"1"},{"created":"soon"}]})"));
  const auto badList = fetch();
  EXPECT_EQ(badList->error()->domain(), platform::JSONCodingErrorDomain);
  EXPECT_EQ(badList->error()->textForKey(platform::JSONCodingPathErrorKey), "data[1].created");

  // The rate-limit header fields reach the wording.
  service.enqueue(Reply::json(R"({"response":"429","data":[{"error":["Too many requests."]}]})", 429)
                      .withHeader("X-Rate-Limit-Limit", "1000")
                      .withHeader("X-Rate-Limit-Interval", "3600")
                      .withHeader("X-Rate-Limit-Reset", "1798761600"));
  const auto limited = fetch();
  EXPECT_EQ(limited->error()->localizedFailureReason(),
            "More than 1,000 requests have been made with this access token within a period of 1 hour.");
  EXPECT_EQ(limited->error()->localizedRecoverySuggestion(),
            "Wait until January 1, 2027 at 12:00:00\u202fAM UTC before retrying.");
}

TEST(ServiceEndpoint, HostTextsThatFormAnHttpsURL) {
  const OrbisgroveReportCategoriesAPIManager byDefault(std::nullopt);
  EXPECT_EQ(byDefault.apiEndpoint().absoluteString(), "https://" + std::string(defaultServiceHost()));
  EXPECT_EQ(OrbisgroveReportCategoriesAPIManager(std::string("[::1]:9")).urlForReportCategories().absoluteString(),
            "https://[::1]:9/explore-api/v1.2/");
  EXPECT_EQ(OrbisgroveSaveUserDataAPIManager(std::string("maps.example.org")).urlForReportCategories().absoluteString(),
            "https://maps.example.org/explore-api/v1.2/");
  for (const char* bad : {"", "https://maps.example.org", "maps.example.org/path", "maps.example.org:99999"}) {
    try {
      OrbisgroveSaveUserDataAPIManager client{std::string(bad)};
      ADD_FAILURE() << "accepted \"" << bad << '"';
    } catch (const std::invalid_argument& failure) {
      EXPECT_NE(std::string(failure.what()).find('"' + std::string(bad) + '"'), std::string::npos) << failure.what();
    }
  }
}

}  // namespace
}  // namespace orbisgrove
