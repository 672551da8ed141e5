// The categories client against a local HTTPS service.
#include <orbisgrove/platform/URLError.hpp>

#include <atomic>

#include "KitServiceFixture.hpp"
#include "LocaleScope.hpp"

namespace orbisgrove {
namespace {

using testing::Reply;

constexpr std::string_view kCategoriesBody =
    "q=712&layer=explore&client=104&key=tV3nQe8LpZk2RwXa0MfYc7HsJd9=&apptype=native&val=401*401*401";

struct Outcome {
  int calls = 0;
  bool onMainThread = false;
  std::optional<OrbisgroveReportCategoriesList> categories;
  std::shared_ptr<const platform::Error> error;

  OrbisgroveReportCategoriesAPIManager::CompletionHandler handler() {
    return [this](std::optional<OrbisgroveReportCategoriesList> list, std::shared_ptr<const platform::Error> e) {
      ++calls;
      onMainThread = platform::MainQueue::shared().isMainThread();
      categories = std::move(list);
      error = std::move(e);
    };
  }
};

class CategoriesClientTest : public testing::KitServiceFixture {
 protected:
  Outcome fetch() {
    Outcome outcome;
    OrbisgroveReportCategoriesAPIManager::shared().getReportCategories(outcome.handler());
    EXPECT_EQ(outcome.calls, 0) << "the handler must wait for the main queue";
    EXPECT_TRUE(runMainQueueUntil([&] { return outcome.calls > 0; }));
    platform::MainQueue::shared().runUntil([] { return false; }, std::chrono::milliseconds(20));
    EXPECT_EQ(outcome.calls, 1);
    EXPECT_TRUE(outcome.onMainThread);
    return outcome;
  }
};

TEST_F(CategoriesClientTest, SendsTheFixedFormWithOneHeader) {
  service.setDefaultReply(Reply::json(R"({"response":"201","data":[]})"));
  auto& client = OrbisgroveReportCategoriesAPIManager::shared();
  Outcome first;
  const auto task = client.getReportCategories(first.handler());
  EXPECT_NE(task->state(), platform::DataTask::State::suspended);
  EXPECT_EQ(task->originalRequest().timeoutInterval, 60.0);
  EXPECT_EQ(task->originalRequest().cachePolicy, platform::URLRequestCachePolicy::useProtocolCachePolicy);
  ASSERT_TRUE(runMainQueueUntil([&] { return first.calls == 1; }));
  (void)fetch();

  ASSERT_EQ(service.requestCount(), 2u);
  for (const auto& request : service.requests()) {
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.target, "/explore-api/v1.2/");
    EXPECT_EQ(request.body, kCategoriesBody);
    EXPECT_EQ(request.header("Content-Type"), "application/x-www-form-urlencoded");
    for (const auto& name : request.headerNames()) {
      EXPECT_TRUE(name == "Content-Type" || name == "Host" || name == "Content-Length") << name;
    }
  }
}

TEST_F(CategoriesClientTest, ListOfASuccessfulReplyWhateverTheStatus) {
  service.enqueue(
      Reply::json(R"({"response":"201","data":[{"reportId":"1","reportName":"Road"},{"reportId":"2"}]})", 500));
  const auto outcome = fetch();
  EXPECT_FALSE(outcome.error);
  ASSERT_TRUE(outcome.categories);
  ASSERT_EQ(outcome.categories->size(), 2u);
  EXPECT_EQ((*outcome.categories)[0]->reportName(), "Road");

  service.enqueue(Reply::json(R"({"response":"201"})"));
  const auto none = fetch();
  EXPECT_FALSE(none.error);
  EXPECT_FALSE(none.categories);
}

TEST_F(CategoriesClientTest, FailedRepliesReachTheCallerAsErrorValues) {
  service.enqueue(Reply::json(R"({"response":"200","data":[{"reportId":"1"}]})"));
  const auto notSuccess = fetch();
  ASSERT_TRUE(notSuccess.error);
  EXPECT_FALSE(notSuccess.categories);
  EXPECT_EQ(notSuccess.error->domain(), OrbisgroveFeedbackErrorDomain);
  EXPECT_EQ(notSuccess.error->localizedFailureReason(), "Parameters are invalid or some server error.");

  service.enqueue(Reply::json(R"({"response":"401","data":[{"error":["Invalid client key.","Try again."]}]})", 401));
  EXPECT_EQ(fetch().error->localizedFailureReason(), "Invalid client key., Try again.");

  service.enqueue(Reply::text("<html>502 Bad Gateway</html>", 502));
  EXPECT_EQ(fetch().error->domain(), platform::JSONCodingErrorDomain);

  service.enqueue(Reply::json(R"({"response":"201","data":[{"reportId":"1"},{"created":"soon"}]})"));
  const auto badList = fetch();
  EXPECT_EQ(badList.error->domain(), platform::JSONCodingErrorDomain);
  EXPECT_EQ(badList.error->textForKey(platform::JSONCodingPathErrorKey), "data[1].created");
}

TEST_F(CategoriesClientTest, RefusedClientIsToldTheLimitAndWhenToRetry) {
  service.enqueue(Reply::json(R"({"response":"429","data":[{"error":["Too many requests."]}]})", 429)
                      .withHeader("X-Rate-Limit-Limit", "1000")
                      .withHeader("X-Rate-Limit-Interval", "3600")
                      .withHeader("X-Rate-Limit-Reset", "1798761600"));
  const auto outcome = fetch();
  ASSERT_TRUE(outcome.error);
  EXPECT_EQ(outcome.error->code(), -1);
  EXPECT_EQ(outcome.error->localizedFailureReason(),
            "More than 1,000 requests have been made with this access token within a period of 1 hour.");
  EXPECT_EQ(outcome.error->localizedRecoverySuggestion(),
            "Wait until January 1, 2027 at 12:00:00\u202fAM UTC before retrying.");
}

TEST_F(CategoriesClientTest, TransportFailuresAndCancellationAnswerOnce) {
  service.enqueue(Reply::closeConnection());
  const auto dropped = fetch();
  ASSERT_TRUE(dropped.error);
  EXPECT_EQ(dropped.error->domain(), platform::URLErrorDomain);
  EXPECT_EQ(dropped.error->code(), static_cast<std::int64_t>(platform::URLErrorCode::networkConnectionLost));
  EXPECT_EQ(dropped.error->underlyingError()->code(), dropped.error->code());

  service.enqueue(Reply::stalled());
  Outcome cancelled;
  const auto task = OrbisgroveReportCategoriesAPIManager::shared().getReportCategories(cancelled.handler());
  ASSERT_TRUE(service.waitForStalled(1));
  task->cancel();
  task->cancel();
  ASSERT_TRUE(runMainQueueUntil([&] { return cancelled.calls > 0; }));
  service.releaseStalled();
  platform::MainQueue::shared().runUntil([] { return false; }, std::chrono::milliseconds(100));
  EXPECT_EQ(cancelled.calls, 1);
  EXPECT_EQ(cancelled.error->code(), static_cast<std::int64_t>(platform::URLErrorCode::cancelled));

  service.stop();
  const auto refused = fetch();
  ASSERT_TRUE(refused.error);
  EXPECT_EQ(refused.error->code(), static_cast<std::int64_t>(platform::URLErrorCode::cannotConnectToHost));
}

TEST(ServiceEndpoint, HostTextsThatFormAnHttpsURL) {
  const OrbisgroveReportCategoriesAPIManager byDefault(std::nullopt);
  EXPECT_EQ(byDefault.apiEndpoint().scheme(), "https");
  EXPECT_EQ(byDefault.apiEndpoint().absoluteString(), "https://" + std::string(defaultServiceHost()));

  const OrbisgroveReportCategoriesAPIManager local(std::string("127.0.0.1:8443"));
  EXPECT_EQ(local.apiEndpoint().absoluteString(), "https://127.0.0.1:8443");
  EXPECT_EQ(local.urlForReportCategories().absoluteString(), "https://127.0.0.1:8443/explore-api/v1.2/");
  EXPECT_EQ(OrbisgroveReportCategoriesAPIManager(std::string("[::1]:9")).urlForReportCategories().absoluteString(),
            "https://[::1]:9/explore-api/v1.2/");
  EXPECT_EQ(OrbisgroveSaveUserDataAPIManager(std::string("maps.example.org")).urlForReportCategories(),
            OrbisgroveReportCategoriesAPIManager(std::string("maps.example.org")).urlForReportCategories());

  for (const char* bad : {"", " ", "maps example.org", "https://maps.example.org", "maps.example.org/path", "/",
                          "user@maps.example.org", "maps.example.org:99999"}) {
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
