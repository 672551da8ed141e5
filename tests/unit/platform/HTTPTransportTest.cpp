// The kit over a host's transport: answers come once, on the main queue, and
// are judged as over the kit's own session.
#include <orbisgrove/platform/HTTPTransport.hpp>
#include <orbisgrove/platform/TextFormatter.hpp>

#include "KitServiceFixture.hpp"
#include "SessionTestSupport.hpp"
#include "platform/http/Sessions.hpp"

namespace orbisgrove::testing {
namespace {

using platform::HTTPTransportOutcome;
using platform::URLErrorCode;

// A host's transport that keeps every request and completion it is given and
// answers at once with `next` (twice with `answerTwice`); none: never.
struct FakeTransport {
  std::mutex mutex;
  std::condition_variable startedOne;
  std::optional<HTTPTransportOutcome> next;
  bool answerTwice = false;
  std::vector<platform::HTTPTransportRequest> started;
  std::vector<platform::HTTPTransportCompletion> completions;
  std::vector<std::uint64_t> cancelled;

  static platform::HTTPTransport make(const std::shared_ptr<FakeTransport>& fake, bool reportsSendStart = false) {
    return {.start =
                [fake](platform::HTTPTransportRequest request, platform::HTTPTransportCompletion completion) {
                  const std::lock_guard lock(fake->mutex);
                  fake->started.push_back(std::move(request));
                  for (int i = fake->answerTwice ? 2 : 1; fake->next && i > 0; --i) completion(*fake->next);
                  fake->completions.push_back(std::move(completion));
                  fake->startedOne.notify_all();
                },
            .cancel =
                [fake](std::uint64_t identifier) {
                  const std::lock_guard lock(fake->mutex);
                  fake->cancelled.push_back(identifier);
                },
            .reportsSendStart = reportsSendStart};
  }

  bool waitForStarts(std::size_t count) {
    std::unique_lock lock(mutex);
    return startedOne.wait_for(lock, std::chrono::seconds(5), [&] { return started.size() == count; });
  }
};

TEST(HTTPTransportTest, CarriesEveryRequestAndEachEndsOnceOnTheMainQueue) {
  auto fake = std::make_shared<FakeTransport>();
  const auto transport = FakeTransport::make(fake);
  ASSERT_EQ(platform::installHTTPTransport(transport), nullptr);
  const auto created =
      HTTPTransportOutcome::reply(200, {}, R"({"response":"201","data":{"id":"r-1","name":"Construction"}})");
  const struct {
    bool submit;
    std::optional<HTTPTransportOutcome> outcome;
    bool answerTwice;
    std::int64_t code;  // 0: success
  } cases[] = {
      {false, HTTPTransportOutcome::reply(200, {}, R"({"response":"201","data":[{"reportId":"1"}]})"), false, 0},
      // Lower-case HTTP/2 names are found by their capitalised spelling.
      {false,
       HTTPTransportOutcome::reply(429, {{"x-rate-limit-reset", "1798761600"}, {"content-type", "application/json"}},
                                   R"({"response":"429","data":[{"error":["Slow down."]}]})", 2),
       false, -1},
      {true, created, true, 0},
      // Never answered: cancelled by the host application.
      {true, std::nullopt, false, testing::urlCode(URLErrorCode::cancelled)},
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
      ASSERT_TRUE(fake->waitForStarts(started));
      task->cancel();
    }
    testing::expectAnsweredOnce(answer);
    const auto error = answer->error();
    EXPECT_EQ(error ? error->code() : 0, c.code);
    EXPECT_EQ(error && error->localizedRecoverySuggestion(), c.code == -1);
    EXPECT_EQ(answer->recordName(), c.submit && !error ? std::optional<std::string>("Construction") : std::nullopt);
    const std::lock_guard lock(fake->mutex);
    EXPECT_EQ(fake->started.back().allowsResend, !c.submit);
    ASSERT_EQ(fake->started.size(), started);
    EXPECT_EQ(fake->cancelled, c.outcome ? std::vector<std::uint64_t>{} : std::vector{fake->started.back().identifier});
  }
  EXPECT_NE(platform::installHTTPTransport(transport), nullptr);
}

// A host's formatter writes the rate-limit wording's texts and the reason
// phrases; where it throws, the kit's own text stands, with a console line.
// (Where it has no duration, the plain number and " seconds": CTransportTest.)
TEST(HTTPTransportTest, HostFormatterWritesTheRateLimitWordingAndPhrases) {
  const auto marked = [](const char* kind, auto value) {
    return "<" + std::string(kind) + ":" + std::to_string(value) + ">";
  };
  ASSERT_EQ(
      platform::installTextFormatter(
          {.reasonPhrase = [marked](std::int64_t code) { return marked("phrase", code); },
           .longDateTime = [marked](double seconds) { return marked("date", static_cast<long long>(seconds)); },
           .fullDuration = [marked](double seconds) { return marked("duration", static_cast<long long>(seconds)); },
           .decimal = [marked](std::uint64_t value) -> std::string {
             if (value == 13) throw std::runtime_error("no digits today");
             return marked("decimal", value);
           },
           .wholeDaysBetween = {}}),
      nullptr);
  std::vector<std::string> console;
  std::mutex consoleMutex;
  platform::setConsoleSink([&](std::string_view line) {
    const std::lock_guard lock(consoleMutex);
    console.emplace_back(line);
  });
  auto fake = std::make_shared<FakeTransport>();
  ASSERT_EQ(platform::installHTTPTransport(FakeTransport::make(fake)), nullptr);
  const char* const period = " requests have been made with this access token within a period of ";
  const struct {
    platform::HTTPHeaderFieldList fields;
    std::string reason;
    std::optional<std::string> suggestion;
  } cases[] = {
      {{{"X-Rate-Limit-Limit", "1000"}, {"X-Rate-Limit-Interval", "3600"}, {"X-Rate-Limit-Reset", "1798761600"}},
       std::string("More than <decimal:1000>") + period + "<duration:3600>.",
       "Wait until <date:1798761600> before retrying."},
      {{{"X-Rate-Limit-Limit", "13"}, {"X-Rate-Limit-Interval", "60"}},
       std::string("More than 13") + period + "<duration:60>.",
       std::nullopt},
      {{{"X-Rate-Limit-Reset", "0"}}, "<phrase:429>", "Wait until <date:0> before retrying."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reason);
    {
      const std::lock_guard lock(fake->mutex);
      fake->next = HTTPTransportOutcome::reply(429, c.fields, R"({"response":"429","data":[{"error":["Slow."]}]})");
    }
    const auto answer = testing::Answer::make();
    const auto task = OrbisgroveReportCategoriesAPIManager::shared().getReportCategories(answer->categoriesHandler());
    testing::expectAnsweredOnce(answer);
    const auto error = answer->error();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->localizedFailureReason(), c.reason);
    EXPECT_EQ(error->localizedRecoverySuggestion(), c.suggestion);
  }
  platform::setConsoleSink(nullptr);
  EXPECT_THAT(console, ::testing::ElementsAre(
                           ::testing::HasSubstr("formatter failed; the kit's own text stands in: no digits today")));
  EXPECT_NE(platform::installTextFormatter({}), nullptr);
}

// A transport that reports when its request goes out runs the start hook
// then, on its own thread, and not before its start function; a report after
// the kit ended the request finds it ended. (The session contract covers the
// hook's verdicts over transports that report and that do not.)
TEST(HTTPTransportTest, RunsTheStartHookWhenTheTransportReportsTheSend) {
  enum class Report { live, afterCancel, afterTimeout };
  const struct {
    Report report;
    std::int64_t code;  // of the completion; 0 for the reply
  } cases[] = {
      {Report::live, 0},
      {Report::afterCancel, platform::testing::code(URLErrorCode::cancelled)},
      {Report::afterTimeout, platform::testing::code(URLErrorCode::timedOut)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.report));
    const auto fake = std::make_shared<FakeTransport>();
    platform::URLSessionConfiguration configuration;
    if (c.report == Report::afterTimeout) configuration.timeoutCap = 0.05;
    auto session = platform::http::makeHostTransportSession(
        std::make_shared<const platform::HTTPTransport>(FakeTransport::make(fake, true)), configuration);
    std::atomic<int> hookCalls{0};
    std::atomic<std::thread::id> hookThread{};
    const auto done = platform::testing::Completion::make();
    const auto task = session->dataTask(platform::URLRequest(*platform::URL::fromString("https://example.org/")),
                                        done->handler(), [&] {
                                          ++hookCalls;
                                          hookThread.store(std::this_thread::get_id());
                                          return true;
                                        });
    task->resume();
    ASSERT_TRUE(fake->waitForStarts(1));
    EXPECT_EQ(hookCalls.load(), 0);
    if (c.report == Report::afterCancel) task->cancel();
    ASSERT_TRUE(c.report == Report::live || done->wait());
    const bool send = fake->started.back().sendStarting();
    EXPECT_EQ(send, c.report == Report::live);
    EXPECT_EQ(hookCalls.load(), send ? 1 : 0);
    EXPECT_EQ(hookThread.load(), send ? std::this_thread::get_id() : std::thread::id{});
    fake->completions.back()(send ? HTTPTransportOutcome::reply(200, {}, "{}")
                                  : HTTPTransportOutcome::failure(URLErrorCode::cannotConnectToHost, false));
    ASSERT_TRUE(done->wait());
    EXPECT_EQ(done->urlErrorCode(), c.code);
    const auto error = done->error();
    EXPECT_EQ(error ? error->deliveryFacts().requestMayHaveReachedServer : true, true);
  }
}

}  // namespace
}  // namespace orbisgrove::testing
