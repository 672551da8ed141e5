// The session against the local HTTPS service: what goes on the wire, what a
// completion receives, and that every task completes exactly once.
#include "SessionTestSupport.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

namespace orbisgrove::platform::testing {
namespace {

using orbisgrove::testing::LocalHttpsService;
using orbisgrove::testing::LocalHttpsServiceOptions;
using orbisgrove::testing::RecordedRequest;
using orbisgrove::testing::Reply;
using ::testing::HasSubstr;
using ::testing::UnorderedElementsAre;
using namespace std::chrono_literals;

std::string failingURLOf(const Error& error) {
  return error.textForKey(NSURLErrorFailingURLStringErrorKey).value_or("<none>");
}

TEST(URLSessionRequests, PostCarriesExactlyTheGivenHeadersAndBodyBytes) {
  LocalHttpsService service;
  service.enqueue(Reply::json(R"({"response":"201"})", 201)
                      .withHeader("X-Rate-Limit-Limit", "100")
                      .withHeader("x-lower-case", "kept")
                      .withHeader("X-Repeated", "one")
                      .withHeader("X-Repeated", "two"));
  auto session = sessionTrusting(service);

  const std::string body("q=712&key=tV3nQe8LpZk2RwXa0MfYc7HsJd9=&val=401*401*401\0\r\n\xff", 57);
  auto request = requestFor(service.url("/explore-api/v1.2/"), "POST", body);
  request.allHTTPHeaderFields = {{"Content-Type", "application/x-www-form-urlencoded"}, {"X-Client-Trace", "abc"}};
  auto done = Completion::make();
  const auto task = session->dataTask(request, done->handler(session.get()));
  EXPECT_EQ(task->state(), DataTask::State::suspended);
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(service.requestCount(), 0U) << "a task must not start before resume()";

  task->resume();
  ASSERT_TRUE(done->wait());
  EXPECT_EQ(task->state(), DataTask::State::completed);
  ASSERT_EQ(service.requestCount(), 1U);
  const RecordedRequest recorded = service.requests().front();
  EXPECT_EQ(recorded.method, "POST");
  EXPECT_EQ(recorded.target, "/explore-api/v1.2/");
  EXPECT_EQ(recorded.body, body);
  EXPECT_THAT(recorded.headerNames(), UnorderedElementsAre("Host", "Content-Length", "Content-Type", "X-Client-Trace"));
  EXPECT_EQ(recorded.header("Content-Length"), std::to_string(body.size()));
  EXPECT_EQ(recorded.header("Content-Type"), "application/x-www-form-urlencoded");
  EXPECT_EQ(recorded.header("Host"), service.hostAndPort());

  EXPECT_EQ(done->error(), nullptr);
  EXPECT_EQ(done->body(), R"({"response":"201"})");
  const auto response = done->response();
  ASSERT_NE(response, nullptr);
  EXPECT_EQ(response->statusCode(), 201);
  EXPECT_EQ(response->url().absoluteString(), service.url("/explore-api/v1.2/"));
  EXPECT_EQ(response->valueForHeaderField("X-Rate-Limit-Limit"), "100");
  EXPECT_EQ(response->valueForHeaderField("x-lower-case"), "kept");
  EXPECT_FALSE(response->valueForHeaderField("X-Lower-Case").has_value());
  EXPECT_EQ(response->valueForHeaderField("X-Repeated"), "one, two");
  EXPECT_EQ(response->valueForHeaderField("Content-Type"), "application/json");
  EXPECT_TRUE(done->ranOnDeliveryThread());
  EXPECT_FALSE(session->isDeliveryThread());
  EXPECT_EQ(done->calls(), 1);
}

TEST(URLSessionRequests, BodiesOfAnySizeGoOutWholeWithoutExpectContinue) {
  LocalHttpsService service;
  auto session = sessionTrusting(service);
  // Large enough that libcurl would otherwise ask for 100-continue first.
  std::string large(2 * 1024 * 1024 + 7, '\0');
  for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>(i * 7 % 251);
  for (const auto& request : {requestFor(service.url("/empty"), "POST", ""), requestFor(service.url("/plain?x=1")),
                              requestFor(service.url("/large"), "PUT", large)}) {
    const auto done = run(*session, request);
    EXPECT_EQ(done->error(), nullptr);
    // The service's default reply is a 200 without body: "", never "no body".
    EXPECT_EQ(done->body(), std::optional<std::string>(""));
  }
  const auto requests = service.requests();
  ASSERT_EQ(requests.size(), 3U);
  EXPECT_THAT(requests[0].headerNames(), UnorderedElementsAre("Host", "Content-Length"));
  EXPECT_EQ(requests[0].header("Content-Length"), "0");
  EXPECT_EQ(requests[1].method, "GET");
  EXPECT_EQ(requests[1].target, "/plain?x=1");
  EXPECT_THAT(requests[1].headerNames(), UnorderedElementsAre("Host"));
  EXPECT_EQ(requests[2].method, "PUT");
  EXPECT_THAT(requests[2].headerNames(), UnorderedElementsAre("Host", "Content-Length"));
  EXPECT_TRUE(requests[2].body == large) << "the large body arrived altered (" << requests[2].body.size() << " bytes)";
}

TEST(URLSessionRequests, HeaderFieldsThatWouldCorruptTheRequestAreRefused) {
  LocalHttpsService service;
  auto session = sessionTrusting(service);
  for (const auto& [name, value] : std::vector<std::pair<std::string, std::string>>{
           {"X-Injected", "a\r\nX-Evil: 1"}, {"Bad Name", "v"}, {"X-Null", std::string("a\0b", 3)}}) {
    SCOPED_TRACE(name);
    auto request = requestFor(service.url("/"), "POST", "body");
    request.allHTTPHeaderFields = {{name, value}};
    const auto done = run(*session, request);
    EXPECT_EQ(done->urlErrorCode(), code(URLErrorCode::unknown));
    EXPECT_FALSE(done->body().has_value());
  }
  // Fields the session itself owns are not taken from the caller.
  auto request = requestFor(service.url("/"), "POST", "body");
  request.allHTTPHeaderFields = {{"Content-Length", "999"}, {"Expect", "100-continue"}, {"Accept", "application/json"}};
  const auto done = run(*session, request);
  EXPECT_EQ(done->error(), nullptr);
  ASSERT_EQ(service.requestCount(), 1U);
  const auto recorded = service.requests().front();
  EXPECT_THAT(recorded.headerNames(), UnorderedElementsAre("Host", "Content-Length", "Accept"));
  EXPECT_EQ(recorded.header("Content-Length"), "4");
  EXPECT_EQ(recorded.body, "body");
}

TEST(URLSessionConnections, SequentialRequestsReuseOneConnection) {
  LocalHttpsService service;
  auto session = sessionTrusting(service);
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(run(*session, requestFor(service.url("/" + std::to_string(i)), "POST", "n"))->error(), nullptr);
  }
  EXPECT_EQ(service.requestCount(), 6U);
  EXPECT_EQ(service.connectionCount(), 1U);
}

TEST(URLSessionConnections, HundredsOfConcurrentTasksEachCompleteOnceWithTheirOwnReply) {
  LocalHttpsService service;
  service.setHandler([](const RecordedRequest& request) { return Reply::text("reply to " + request.target); });
  auto session = sessionTrusting(service);
  constexpr std::size_t count = 300;
  std::vector<std::shared_ptr<Completion>> done;
  std::vector<std::shared_ptr<DataTask>> tasks;
  for (std::size_t i = 0; i < count; ++i) {
    done.push_back(Completion::make());
    tasks.push_back(session->dataTask(requestFor(service.url("/task/" + std::to_string(i))), done[i]->handler()));
  }
  // Started from several threads at once, as hosts do.
  std::vector<std::thread> starters;
  for (std::size_t t = 0; t < 4; ++t) {
    starters.emplace_back([&, t] {
      for (std::size_t i = t; i < count; i += 4) tasks[i]->resume();
    });
  }
  for (auto& starter : starters) starter.join();
  for (std::size_t i = 0; i < count; ++i) ASSERT_TRUE(done[i]->wait(30s)) << "task " << i;
  std::this_thread::sleep_for(50ms);
  for (std::size_t i = 0; i < count; ++i) {
    EXPECT_EQ(done[i]->calls(), 1) << "task " << i;
    EXPECT_EQ(done[i]->body(), "reply to /task/" + std::to_string(i));
  }
  EXPECT_EQ(service.requestCount(), count);
  // Transfers share a few kept-alive connections instead of one each.
  EXPECT_LE(service.connectionCount(), 6U);
}

TEST(URLSessionCancel, CompletesOnceAsCancelledBeforeResumeAndWhileHeldButNotAfterCompletion) {
  LocalHttpsService service;
  auto session = sessionTrusting(service);
  auto never = Completion::make();
  const auto suspended = session->dataTask(requestFor(service.url("/never")), never->handler(session.get()));
  suspended->cancel();
  ASSERT_TRUE(never->wait());
  suspended->resume();
  suspended->cancel();

  service.enqueue(Reply::text("late").stalledUntilReleased());
  auto held = Completion::make();
  const auto slow = session->dataTask(requestFor(service.url("/slow"), "POST", "x"), held->handler());
  slow->resume();
  ASSERT_TRUE(service.waitForStalled(1));
  std::thread([slow] { slow->cancel(); }).join();
  ASSERT_TRUE(held->wait());
  service.releaseStalled();

  service.enqueue(Reply::text("done"));
  auto finished = Completion::make();
  const auto completed = session->dataTask(requestFor(service.url("/")), finished->handler());
  completed->resume();
  ASSERT_TRUE(finished->wait());
  completed->cancel();
  std::this_thread::sleep_for(100ms);

  for (const auto& done : {never, held}) {
    EXPECT_EQ(done->calls(), 1);
    EXPECT_EQ(done->urlErrorCode(), code(URLErrorCode::cancelled));
    EXPECT_FALSE(done->body().has_value());
    EXPECT_FALSE(done->hasResponse());
  }
  EXPECT_EQ(failingURLOf(*never->error()), service.url("/never"));
  EXPECT_TRUE(never->ranOnDeliveryThread());
  EXPECT_EQ(finished->calls(), 1);
  EXPECT_EQ(finished->error(), nullptr);
  EXPECT_EQ(finished->body(), "done");
  for (const auto& task : {suspended, slow, completed}) EXPECT_EQ(task->state(), DataTask::State::completed);
  EXPECT_EQ(service.requestCount(), 2U) << "the task cancelled before resume reached the network";
}

TEST(URLSessionFailures, RefusedConnectionIsCannotConnect) {
  // A port that was just listened on and has no listener now.
  auto stopped = std::make_unique<LocalHttpsService>();
  const std::string url = stopped->url("/explore-api/v1.2/");
  stopped.reset();
  auto session = URLSession::make({});
  const auto done = run(*session, requestFor(url, "POST", "q=712"));
  EXPECT_EQ(done->calls(), 1);
  EXPECT_EQ(done->urlErrorCode(), code(URLErrorCode::cannotConnectToHost));
  EXPECT_FALSE(done->body().has_value());
  EXPECT_FALSE(done->hasResponse());
  EXPECT_EQ(failingURLOf(*done->error()), url);
  EXPECT_THAT(done->error()->localizedFailureReason().value_or(""), HasSubstr("libcurl"));
}

TEST(URLSessionFailures, DroppedConnectionsAreConnectionLost) {
  LocalHttpsService service;
  service.enqueue(Reply::closeConnection());
  auto session = sessionTrusting(service);
  const auto dropped = run(*session, requestFor(service.url("/drop"), "POST", "a"));
  EXPECT_EQ(dropped->urlErrorCode(), code(URLErrorCode::networkConnectionLost));
  EXPECT_FALSE(dropped->body().has_value());
  EXPECT_FALSE(dropped->hasResponse());

  // Half a body: no body is delivered, but the head that did arrive is.
  service.enqueue(Reply::halfBodyThenClose(std::string(4000, 'x'), 503).withHeader("X-Rate-Limit-Reset", "9"));
  const auto cut = run(*session, requestFor(service.url("/cut"), "POST", "b"));
  EXPECT_EQ(cut->urlErrorCode(), code(URLErrorCode::networkConnectionLost));
  EXPECT_FALSE(cut->body().has_value());
  ASSERT_NE(cut->response(), nullptr);
  EXPECT_EQ(cut->response()->statusCode(), 503);
  EXPECT_EQ(cut->response()->valueForHeaderField("X-Rate-Limit-Reset"), "9");
  EXPECT_EQ(dropped->calls() + cut->calls(), 2);
}

TEST(URLSessionFailures, OversizedRepliesAreRefusedWhetherAnnouncedOrStreamed) {
  LocalHttpsService service;
  URLSessionConfiguration configuration;
  configuration.maximumBodyBytes = 1024;
  auto session = sessionTrusting(service, configuration);

  service.enqueue(Reply::text(std::string(1024, 'a')));
  service.enqueue(Reply::text(std::string(1025, 'b')));
  service.enqueue(Reply::text(std::string(64 * 1024, 'c')).inChunks());
  const auto fits = run(*session, requestFor(service.url("/big")));
  EXPECT_EQ(fits->error(), nullptr);
  EXPECT_EQ(fits->body().value_or("").size(), 1024U);
  for (const char* how : {"announced", "streamed"}) {
    const auto done = run(*session, requestFor(service.url("/big")));
    EXPECT_EQ(done->urlErrorCode(), code(URLErrorCode::dataLengthExceedsMaximum)) << how;
    EXPECT_FALSE(done->body().has_value()) << how;
    EXPECT_EQ(done->calls(), 1) << how;
  }
}

TEST(URLSessionRedirects, FollowsHttpsRedirectsUpToFive) {
  LocalHttpsService service;
  service.setHandler([&service](const RecordedRequest& request) {
    if (request.target == "/start") return Reply::redirect(service.url("/final"), 303);
    if (request.target == "/final") return Reply::text("arrived");
    if (request.target == "/loop") return Reply::redirect("/loop");
    if (request.target == "/downgrade")
      return Reply::redirect("http://127.0.0.1:" + std::to_string(service.port()) + "/");
    return Reply::withStatus(404);
  });
  auto session = sessionTrusting(service);

  const auto followed = run(*session, requestFor(service.url("/start"), "POST", "x"));
  EXPECT_EQ(followed->body(), "arrived");
  ASSERT_NE(followed->response(), nullptr);
  EXPECT_EQ(followed->response()->url().absoluteString(), service.url("/final"));
  EXPECT_EQ(service.requestCount(), 2U);

  const auto looping = run(*session, requestFor(service.url("/loop")));
  EXPECT_EQ(looping->urlErrorCode(), code(URLErrorCode::httpTooManyRedirects));
  EXPECT_EQ(service.requestCount(), 2U + 6U);

  const auto downgraded = run(*session, requestFor(service.url("/downgrade")));
  EXPECT_EQ(downgraded->urlErrorCode(), code(URLErrorCode::unsupportedURL));

  const auto plain = run(*session, requestFor("http://127.0.0.1:" + std::to_string(service.port()) + "/"));
  EXPECT_EQ(plain->urlErrorCode(), code(URLErrorCode::unsupportedURL))
      << (plain->error() ? plain->error()->description() : "");
  EXPECT_EQ(service.requestCount(), 9U);
}

TEST(URLSessionTrust, ServerCertificatesAreVerifiedAgainstTheAuthoritiesAddedSoFar) {
  LocalHttpsService service;
  auto session = URLSession::make({});
  const auto before = run(*session, requestFor(service.url("/"), "POST", "x"));
  EXPECT_EQ(before->urlErrorCode(), code(URLErrorCode::serverCertificateUntrusted));
  EXPECT_THAT(before->error()->localizedFailureReason().value_or(""), HasSubstr("libcurl"));
  EXPECT_FALSE(before->hasResponse());
  EXPECT_EQ(service.requestCount(), 0U);

  session->addTrustedCertificates(service.caFile());
  const auto after = run(*session, requestFor(service.url("/")));
  EXPECT_EQ(after->error(), nullptr);
  EXPECT_EQ(service.requestCount(), 1U);

  // An authority file that cannot be read is reported, not ignored.
  URLSessionConfiguration configuration;
  configuration.additionalTrustedCertificateFiles = {service.caFile(), "/nonexistent/authority.pem"};
  auto misconfigured = URLSession::make(configuration);
  const auto unreadable = run(*misconfigured, requestFor(service.url("/")));
  ASSERT_EQ(unreadable->urlErrorCode(), code(URLErrorCode::secureConnectionFailed));
  EXPECT_THAT(unreadable->error()->localizedFailureReason().value_or(""), HasSubstr("/nonexistent/authority.pem"));
  EXPECT_EQ(service.requestCount(), 1U);
}

}  // namespace
}  // namespace orbisgrove::platform::testing
