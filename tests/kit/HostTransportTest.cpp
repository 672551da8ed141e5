// The kit over a host's transport: answers come once, on the main queue, and
// are judged as over the kit's own session.
#include <orbisgrove/platform/HTTPTransport.hpp>

#include "../platform/http/SessionTestSupport.hpp"
#include "../service/KitServiceFixture.hpp"
#include "platform/http/Sessions.hpp"

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

// When the request starts to go out, the start hook runs: for a transport
// that reports the moment, when it reports, on its thread, and the answer
// says whether to send; for one that does not, just before its start
// function. A report after the kit ended the request finds it ended.
TEST(HostTransport, RunsTheStartHookWhenTheRequestGoesOut) {
  enum class Report { none, live, afterCancel, afterTimeout };
  const struct {
    bool reports;
    Report report;
    bool hookAllows;
    int hookCallsAtStart;  // -1: the start function is never called
    std::int64_t code;     // of the completion; 0 for the reply
    bool reached;
  } cases[] = {
      {true, Report::live, true, 0, 0, true},
      // Refused: the host sends nothing and fails it; it never left the device.
      {true, Report::live, false, 0, platform::testing::code(URLErrorCode::cannotLoadFromNetwork), false},
      {false, Report::none, true, 1, 0, true},
      {false, Report::none, false, -1, platform::testing::code(URLErrorCode::cannotLoadFromNetwork), false},
      {true, Report::afterCancel, true, 0, platform::testing::code(URLErrorCode::cancelled), true},
      {true, Report::afterTimeout, true, 0, platform::testing::code(URLErrorCode::timedOut), true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(&c - cases));
    struct Host {
      std::mutex mutex;
      std::condition_variable started;
      std::optional<platform::HTTPTransportRequest> request;
      platform::HTTPTransportCompletion completion;
      int hookCallsAtStart = -1;
    };
    auto host = std::make_shared<Host>();
    std::atomic<int> hookCalls{0};
    std::atomic<std::thread::id> hookThread{};
    platform::HTTPTransport transport{
        .start =
            [host, &hookCalls](platform::HTTPTransportRequest request, platform::HTTPTransportCompletion completion) {
              const std::lock_guard lock(host->mutex);
              host->request = std::move(request);
              host->completion = std::move(completion);
              host->hookCallsAtStart = hookCalls.load();
              host->started.notify_all();
            },
        .cancel = {},
        .reportsSendStart = c.reports};
    platform::URLSessionConfiguration configuration;
    if (c.report == Report::afterTimeout) configuration.timeoutCap = 0.05;
    auto session = platform::http::makeHostTransportSession(
        std::make_shared<const platform::HTTPTransport>(std::move(transport)), configuration);
    const auto done = platform::testing::Completion::make();
    const auto task = session->dataTask(platform::URLRequest(*platform::URL::fromString("https://example.org/")),
                                        done->handler(), [&, allows = c.hookAllows] {
                                          ++hookCalls;
                                          hookThread.store(std::this_thread::get_id());
                                          return allows;
                                        });
    task->resume();
    if (c.hookCallsAtStart < 0) {
      ASSERT_TRUE(done->wait());
    } else {
      std::unique_lock lock(host->mutex);
      ASSERT_TRUE(host->started.wait_for(lock, std::chrono::seconds(5), [&] { return host->request.has_value(); }));
    }
    EXPECT_EQ(host->hookCallsAtStart, c.hookCallsAtStart);
    if (c.report == Report::afterCancel) task->cancel();
    if (c.report == Report::afterCancel || c.report == Report::afterTimeout) {
      ASSERT_TRUE(done->wait());
    }
    if (c.report != Report::none) {
      const bool send = host->request->sendStarting();
      EXPECT_EQ(send, c.report == Report::live && c.hookAllows);
      EXPECT_EQ(hookCalls.load(), c.report == Report::live ? 1 : 0);
      EXPECT_EQ(hookThread.load(), c.report == Report::live ? std::this_thread::get_id() : std::thread::id{});
      host->completion(send ? HTTPTransportOutcome::reply(200, {}, "{}")
                            : HTTPTransportOutcome::failure(URLErrorCode::cannotConnectToHost, false));
    } else if (host->completion) {
      host->completion(HTTPTransportOutcome::reply(200, {}, "{}"));
    }
    ASSERT_TRUE(done->wait());
    EXPECT_EQ(done->urlErrorCode(), c.code);
    const auto error = done->error();
    EXPECT_EQ(error ? error->deliveryFacts().requestMayHaveReachedServer : true, c.reached);
  }
}

}  // namespace
}  // namespace orbisgrove
