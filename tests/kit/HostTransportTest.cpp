// The kit over a host's transport: answers come once, on the main queue, and
// are judged as over the kit's own session.
#include <orbisgrove/platform/HTTPTransport.hpp>

#include "../service/KitServiceFixture.hpp"

namespace orbisgrove {
namespace {

using platform::HTTPTransportOutcome;
using platform::URLErrorCode;

struct FakeTransport {
  std::mutex mutex;
  std::optional<HTTPTransportOutcome> next;  // none: never answers
  bool answerTwice = false;
  std::vector<platform::HTTPTransportRequest> started;
  std::vector<std::uint64_t> cancelled;
  std::condition_variable startedOne;
};

TEST(HostTransport, CarriesEveryRequestAndEachEndsOnceOnTheMainQueue) {
  auto fake = std::make_shared<FakeTransport>();
  platform::HTTPTransport transport{
      .start =
          [fake](platform::HTTPTransportRequest request, platform::HTTPTransportCompletion completion) {
            const std::lock_guard lock(fake->mutex);
            fake->started.push_back(std::move(request));
            for (int i = fake->answerTwice ? 2 : 1; fake->next && i > 0; --i) completion(*fake->next);
            fake->startedOne.notify_all();
          },
      .cancel =
          [fake](std::uint64_t identifier) {
            const std::lock_guard lock(fake->mutex);
            fake->cancelled.push_back(identifier);
          },
  };
  ASSERT_EQ(platform::installHTTPTransport(transport), nullptr);
  const auto created =
      HTTPTransportOutcome::reply(200, {}, R"({"response":"201","data":{"id":"r-1","name":"Construction"}})");
  const struct {
    bool submit;
    std::optional<HTTPTransportOutcome> outcome;
    bool answerTwice;
    std::int64_t code;  // 0: success
    std::optional<OrbisgroveSubmissionFailure> failure;
  } cases[] = {
      {false, HTTPTransportOutcome::reply(200, {}, R"({"response":"201","data":[{"reportId":"1"}]})"), false, 0, {}},
      // Lower-case HTTP/2 names are found by their capitalised spelling.
      {false,
       HTTPTransportOutcome::reply(429, {{"x-rate-limit-reset", "1798761600"}, {"content-type", "application/json"}},
                                   R"({"response":"429","data":[{"error":["Slow down."]}]})", 2),
       false,
       -1,
       {}},
      {true, created, true, 0, {}},
      {true, HTTPTransportOutcome::failure(URLErrorCode::cannotConnectToHost, false), false,
       testing::urlCode(URLErrorCode::cannotConnectToHost), OrbisgroveSubmissionFailure::neverSent},
      {true, HTTPTransportOutcome::failure(URLErrorCode::timedOut, true, "no reply"), false,
       testing::urlCode(URLErrorCode::timedOut), OrbisgroveSubmissionFailure::noVerdict},
      // Never answered: cancelled by the host application.
      {true, std::nullopt, false, testing::urlCode(URLErrorCode::cancelled), OrbisgroveSubmissionFailure::noVerdict},
  };
  std::size_t started = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(++started);
    {
      const std::lock_guard lock(fake->mutex);
      fake->next = c.outcome;
      fake->answerTwice = c.answerTwice;
    }
    const auto answer = testing::Answer::make();
    const auto task =
        c.submit
            ? OrbisgroveSaveUserDataAPIManager::shared().saveUserData(*testing::someReport(), answer->saveHandler())
            : OrbisgroveReportCategoriesAPIManager::shared().getReportCategories(answer->categoriesHandler());
    if (!c.outcome) {
      std::unique_lock lock(fake->mutex);
      ASSERT_TRUE(
          fake->startedOne.wait_for(lock, std::chrono::seconds(5), [&] { return fake->started.size() == started; }));
      lock.unlock();
      task->cancel();
    }
    testing::expectAnsweredOnce(answer);
    EXPECT_EQ(answer->error() ? answer->error()->code() : 0, c.code);
    const auto error = answer->error();
    EXPECT_EQ(c.submit && error ? std::optional(classifySubmissionFailure(*error)) : std::nullopt, c.failure);
    EXPECT_EQ(error && error->localizedRecoverySuggestion(), c.code == -1);
    EXPECT_EQ(answer->recordName(), c.submit && !error ? std::optional<std::string>("Construction") : std::nullopt);
    const std::lock_guard lock(fake->mutex);
    EXPECT_EQ(fake->started.back().allowsResend, !c.submit);
    ASSERT_EQ(fake->started.size(), started);
    EXPECT_EQ(fake->cancelled, c.outcome ? std::vector<std::uint64_t>{} : std::vector{fake->started.back().identifier});
  }
  EXPECT_NE(platform::installHTTPTransport(transport), nullptr);
}

}  // namespace
}  // namespace orbisgrove
