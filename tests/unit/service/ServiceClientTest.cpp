// The categories and save clients against a local HTTPS service, and the
// submission's form body byte for byte: the service reads it raw.
#include "KitServiceFixture.hpp"
#include "service/SaveUserDataForm.hpp"

namespace orbisgrove {
namespace {

using testing::Answer;
using testing::Reply;

std::shared_ptr<OrbisgroveReportCategories> category(std::string_view json) {
  return platform::JSONDecoder().decode<std::shared_ptr<OrbisgroveReportCategories>>(json);
}

class ServiceClientsTest : public testing::KitServiceFixture {
 protected:
  // Both wait for the main queue, and answer once.
  std::shared_ptr<Answer> fetch() {
    auto answer = Answer::make();
    OrbisgroveReportCategoriesAPIManager::shared().getReportCategories(answer->categoriesHandler());
    EXPECT_EQ(answer->calls(), 0) << "the handler must wait for the main queue";
    testing::expectAnsweredOnce(answer);
    return answer;
  }
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
TEST_F(ServiceClientsTest, EachSendsItsFormWithOneHeader) {
  service.setDefaultReply(Reply::json(R"({"response":"201","data":[]})"));
  auto first = Answer::make();
  const auto task = OrbisgroveReportCategoriesAPIManager::shared().getReportCategories(first->categoriesHandler());
  EXPECT_NE(task->state(), platform::DataTask::State::suspended);
  EXPECT_EQ(task->originalRequest().timeoutInterval, 60.0);
  testing::expectAnsweredOnce(first);
  (void)fetch();

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

// That the rate-limit fields are found over HTTP/2 too: URLSessionReplies.
TEST_F(ServiceClientsTest, CategoryRepliesAreJudgedByTheirEnvelope) {
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

TEST_F(ServiceClientsTest, SaveHandsOverTheServicesRecordOrNone) {
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

  // The record must be an object; how other envelopes are judged: ReplyErrorTest.
  service.enqueue(Reply::json(R"({"response":"201","data":[{"id":"1"}]})"));
  EXPECT_EQ(save(options)->error()->domain(), platform::JSONCodingErrorDomain);
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

constexpr std::string_view kPrefix =
    "q=705&layer=explore&client=104&key=tV3nQe8LpZk2RwXa0MfYc7HsJd9=&apptype=native&val=";

// Between the fixed pieces: coordinate, description, application id; the categories.
TEST(SaveUserDataForm, WritesTheFifteenFieldsRawFillingGapsWith401AndDashes) {
  struct Case {
    platform::Coordinate coordinate;
    const char* parent;
    const char* child;
    std::string description;
    std::optional<std::string> moduleId;
    std::optional<std::string> bundle;
    std::string expected;
  };
  const char* p = R"({"reportId":"1","reportName":"P"})";
  const char* c = R"({"reportId":"2","reportName":"C"})";
  const std::string raw = " Tree & branch = blocked * road \xC3\xBC\t";
  const auto val = [](const std::string& where, const std::string& categories, const std::string& bundle) {
    return "Point on Map*401*401*" + where + "*401*" + bundle + "*native*11*1*1*" + categories + "*" + bundle;
  };
  const std::vector<Case> cases = {
      {{28.5, 77.25}, p, c, "x", std::nullopt, "A", val("28.5*77.25*x", "P-1*C-2", "A")},
      // No bundle identifier and no description: "401"; a category without name and id: "-".
      {{28, -0.00001}, "{}", c, "", std::nullopt, std::nullopt, val("28.0*-1e-05*401", "-*C-2", "401")},
      {{0.0001, -122.4194},
       R"({"reportName":"only name"})",
       R"({"reportId":"only id"})",
       "d",
       std::nullopt,
       "B",
       val("0.0001*-122.4194*d", "only name-*-only id", "B")},
      // The module id piece comes whenever there is one, even an empty one.
      {{1, 2}, p, c, "t", "", "A", val("1.0*2.0*t", "P-1*C-2", "A") + "&module_id="},
      {{-33, 0.00001}, p, c, "t", "nav-7", "A", val("-33.0*1e-05*t", "P-1*C-2", "A") + "&module_id=nav-7"},
      // Nothing is escaped or trimmed.
      {{1, 2}, p, c, raw, std::nullopt, "A&B=C", val("1.0*2.0*" + raw, "P-1*C-2", "A&B=C")},
  };
  for (const Case& test : cases) {
    const OrbisgroveSaveUserDataOptions options(test.coordinate, category(test.parent), category(test.child),
                                                test.description, test.moduleId);
    EXPECT_EQ(saveUserDataFormBody(options, test.bundle), std::string(kPrefix) + test.expected);
  }
}

}  // namespace
}  // namespace orbisgrove
