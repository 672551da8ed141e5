// The session against the local HTTPS service: what goes on the wire, what a
// completion receives, and that every task completes exactly once.
#include "SessionTestSupport.hpp"

#include "platform/http/Sessions.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <orbisgrove/platform/Settings.hpp>

#include <loopback_tls/LoopbackCertificates.hpp>

#include <atomic>
#include <stdexcept>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

namespace orbisgrove::platform::testing {
namespace {

using orbisgrove::testing::LocalHttpsService;
using orbisgrove::testing::LocalHttpsServiceOptions;
using orbisgrove::testing::RecordedRequest;
using orbisgrove::testing::Reply;
using ::testing::HasSubstr;
using ::testing::UnorderedElementsAreArray;
using namespace std::chrono_literals;

TEST(URLSessionRequests, CarryExactlyTheGivenHeadersAndBodyBytesWithoutExpectContinue) {
  LocalHttpsService service;
  auto session = sessionTrusting(service);
  // Large enough that libcurl would otherwise ask for 100-continue first.
  std::string large(2 * 1024 * 1024 + 7, '\0');
  for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>(i * 7 % 251);
  const std::string binary("q=712&key=tV3nQe8LpZk2RwXa0MfYc7HsJd9=&val=401*401*401\0\r\n\xff", 57);
  const struct {
    const char* method;
    std::string body;
    bool resend;
    HTTPHeaderFields fields;
    std::vector<std::string> sent;
  } cases[] = {
      {"POST",
       binary,
       false,
       {{"Content-Type", "application/x-www-form-urlencoded"}, {"X-Trace", "abc"}},
       {"Host", "Content-Length", "Content-Type", "X-Trace", "Accept-Encoding"}},
      {"POST", binary, true, {}, {"Host", "Content-Length", "Accept-Encoding"}},
      {"POST", "", false, {}, {"Host", "Content-Length", "Accept-Encoding"}},
      {"GET", "", false, {}, {"Host", "Accept-Encoding"}},
      {"PUT", large, false, {}, {"Host", "Content-Length", "Accept-Encoding"}},
      {"PUT", large, true, {}, {"Host", "Content-Length", "Accept-Encoding"}},
      // Fields the session itself owns are not taken from the caller; it
      // asks for the encodings it decodes.
      {"POST",
       "body",
       false,
       {{"Content-Length", "9"},
        {"Expect", "100-continue"},
        {"Accept", "application/json"},
        {"Accept-Encoding", "x-squash"}},
       {"Host", "Content-Length", "Accept", "Accept-Encoding"}},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const auto& c = cases[i];
    SCOPED_TRACE(i);
    const std::string target = "/r?i=" + std::to_string(i);
    auto request = requestFor(service.url(target), c.method, c.body);
    request.allHTTPHeaderFields = c.fields;
    request.allowsTransportResend = c.resend;
    auto done = Completion::make();
    const auto task = session->dataTask(request, done->handler(session.get()));
    std::this_thread::sleep_for(i == 0 ? 50ms : 0ms);
    EXPECT_EQ(service.requestCount(), i) << "a task must not start before resume()";
    EXPECT_EQ(task->state(), DataTask::State::suspended);
    task->resume();
    ASSERT_TRUE(done->wait());
    EXPECT_EQ(task->state(), DataTask::State::completed);
    EXPECT_EQ(done->calls(), 1);
    EXPECT_TRUE(done->ranOnDeliveryThread());
    EXPECT_EQ(done->error(), nullptr);
    EXPECT_EQ(done->response()->url().absoluteString(), service.url(target));
    // The service's default reply is a 200 without body: "", never "no body".
    EXPECT_EQ(done->body(), std::optional<std::string>(""));
    const auto recorded = service.requests().at(i);
    EXPECT_EQ(recorded.method, c.method);
    EXPECT_EQ(recorded.target, target);
    EXPECT_TRUE(recorded.body == c.body) << "the body arrived altered (" << recorded.body.size() << " bytes)";
    EXPECT_THAT(recorded.headerNames(), UnorderedElementsAreArray(c.sent));
    EXPECT_EQ(recorded.header("Content-Length").value_or("0"), std::to_string(c.body.size()));
    EXPECT_THAT(recorded.header("Accept-Encoding").value_or(""), HasSubstr("gzip"));
    for (const auto& [name, value] : c.fields) {
      if (name != "Content-Length" && name != "Expect" && name != "Accept-Encoding") {
        EXPECT_EQ(recorded.header(name), value);
      }
    }
  }
  // Values that would smuggle a field or a request onto the wire are refused.
  for (const auto& [name, value] : std::vector<std::pair<std::string, std::string>>{
           {"X-Injected", "a\r\nX-Evil: 1"}, {"Bad Name", "v"}, {"X-Null", std::string("a\0b", 3)}}) {
    auto request = requestFor(service.url("/"), "POST", "body");
    request.allHTTPHeaderFields = {{name, value}};
    const auto done = run(*session, request);
    EXPECT_EQ(done->urlErrorCode(), code(URLErrorCode::unknown)) << name;
    EXPECT_EQ(done->error()->deliveryFacts().requestMayHaveReachedServer, false) << name;
  }
  EXPECT_EQ(service.requestCount(), std::size(cases));
  EXPECT_FALSE(session->isDeliveryThread());
}

TEST(URLSessionReplies, FieldNamesStayAsSentOverHTTP1AndAreCapitalisedOverHTTP2) {
  for (const bool http2 : {false, true}) {
    SCOPED_TRACE(http2 ? "HTTP/2" : "HTTP/1.1");
    LocalHttpsService service(LocalHttpsServiceOptions{.http2 = http2});
    Reply reply = Reply::json("{}", 429)
                      .withHeader("X-Rate-Limit-Reset", "9")
                      .withHeader("x-lower-case", "kept")
                      .withHeader("X-Repeated", "one")
                      .withHeader("x-repeated", "two");
    // Each of many distinct fields is filed with one lookup, not a scan of
    // the ones before (bench/ measures it). Names of three characters keep
    // the head under the session's 256 KiB limit.
    const std::size_t many = http2 ? 0 : 30000;
    for (std::size_t i = 0; i < many; ++i)
      reply = std::move(reply).withHeader(orbisgrove::testing::shortFieldName(i), "");
    service.enqueue(std::move(reply));
    auto session = sessionTrusting(service);
    // A request that may be resent: one that may not goes over HTTP/1.1.
    auto request = requestFor(service.url("/"), "POST", "q=712");
    request.allowsTransportResend = true;
    const auto done = run(*session, request);
    const auto response = std::dynamic_pointer_cast<const SessionHTTPURLResponse>(done->response());
    ASSERT_NE(response, nullptr) << (done->error() ? done->error()->description() : "");
    EXPECT_EQ(response->httpMajorVersion(), http2 ? 2 : 1);
    EXPECT_EQ(response->statusCode(), 429);
    EXPECT_EQ(response->valueForHeaderField("X-Rate-Limit-Reset"), "9");
    EXPECT_EQ(response->valueForHeaderField("X-Lower-Case").has_value(), http2);
    EXPECT_EQ(response->valueForHeaderField("x-lower-case").has_value(), !http2);
    EXPECT_EQ(response->valueForHeaderField("X-Repeated"), "one, two");
    EXPECT_GE(response->allHeaderFields().size(), many + 4);
    EXPECT_EQ(service.requests().at(0).body, "q=712");
  }
}

TEST(URLSessionConnections, HundredsOfConcurrentTasksShareFewConnectionsAndEachCompletesOnceWithItsOwnReply) {
  LocalHttpsService service;
  service.setHandler([](const RecordedRequest& request) { return Reply::text("reply to " + request.target); });
  auto session = sessionTrusting(service);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(run(*session, requestFor(service.url("/"), "POST", "n"))->error(), nullptr);
  EXPECT_EQ(service.connectionCount(), 1U) << "sequential requests did not reuse their connection";
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
  EXPECT_EQ(service.requestCount(), count + 3);
  EXPECT_LE(service.connectionCount(), 6U);
}

TEST(URLSessionConnections, RequestsWaitingForAConnectionKeepTheirTimeoutsAndCanBeCancelled) {
  LocalHttpsService service;
  service.setDefaultReply(Reply::stalled());
  auto session = sessionTrusting(service);
  // More than libcurl is handed at once, so that the last ones wait in line.
  constexpr std::size_t held = 40;
  std::vector<std::shared_ptr<Completion>> done;
  std::vector<std::shared_ptr<DataTask>> tasks;
  for (std::size_t i = 0; i < held; ++i) {
    done.push_back(Completion::make());
    tasks.push_back(session->dataTask(requestFor(service.url("/held"), "POST", "n"), done[i]->handler()));
    tasks[i]->resume();
  }
  ASSERT_TRUE(service.waitForStalled(6));
  auto hurried = requestFor(service.url("/hurried"), "POST", "n");
  hurried.timeoutInterval = 0.5;
  const auto start = std::chrono::steady_clock::now();
  const auto late = run(*session, std::move(hurried));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  EXPECT_EQ(late->urlErrorCode(), code(URLErrorCode::timedOut));
  EXPECT_EQ(late->error()->deliveryFacts().requestMayHaveReachedServer, false);
  tasks.back()->cancel();
  ASSERT_TRUE(done.back()->wait());
  EXPECT_EQ(done.back()->urlErrorCode(), code(URLErrorCode::cancelled));

  service.setDefaultReply(Reply::text("ok"));
  service.releaseStalled();
  for (std::size_t i = 0; i + 1 < held; ++i) {
    ASSERT_TRUE(done[i]->wait()) << "task " << i;
    EXPECT_EQ(done[i]->error(), nullptr) << "task " << i;
  }
  std::this_thread::sleep_for(50ms);
  for (const auto& completion : done) EXPECT_EQ(completion->calls(), 1);
  EXPECT_EQ(late->calls(), 1);
  EXPECT_EQ(service.requestCount(), held - 1) << "the timed-out or the cancelled request went out";
}

TEST(URLSessionCompletions, OneThatThrowsIsToldOnTheConsoleAndTheSessionGoesOn) {
  LocalHttpsService service;
  auto session = sessionTrusting(service);
  std::mutex mutex;
  std::vector<std::string> lines;
  setConsoleSink([&](std::string_view line) {
    const std::lock_guard lock(mutex);
    lines.emplace_back(line);
  });
  std::atomic<bool> thrown = false;
  session
      ->dataTask(requestFor(service.url("/")),
                 [&](auto, auto, auto) {
                   thrown = true;
                   throw std::runtime_error("handler broke");
                 })
      ->resume();
  for (int i = 0; i < 1000 && !thrown; ++i) std::this_thread::sleep_for(10ms);
  EXPECT_EQ(run(*session, requestFor(service.url("/")))->error(), nullptr);
  setConsoleSink(nullptr);
  ASSERT_EQ(lines.size(), 1U);
  EXPECT_THAT(lines[0], HasSubstr("handler broke"));
}

// Over libcurl and over a host's transport.
TEST(URLSessionFork, RequestsOfAForkedChildFailAtOnce) {
  LocalHttpsService service;
  HTTPTransport answering{
      .start = [](HTTPTransportRequest,
                  HTTPTransportCompletion completion) { completion(HTTPTransportOutcome::reply(200, {}, {})); },
      .cancel = {}};
  std::unique_ptr<URLSession> sessions[] = {
      sessionTrusting(service),
      http::makeHostTransportSession(std::make_shared<const HTTPTransport>(std::move(answering)), {})};
  for (const auto& session : sessions) {
    ASSERT_EQ(run(*session, requestFor(service.url("/")))->error(), nullptr);  // the delivery thread runs
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      auto done = Completion::make();
      session->dataTask(requestFor(service.url("/child")), done->handler())->resume();
      const bool failed = done->wait(5s) && done->urlErrorCode() == code(URLErrorCode::cannotLoadFromNetwork) &&
                          done->error()->deliveryFacts().requestMayHaveReachedServer == false;
      ::_exit(failed ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child's request did not fail at once";
  }
  EXPECT_EQ(service.requestCount(), 1U);
}

TEST(URLSessionFailures, TellTheirCauseAndWhetherTheRequestMayHaveReachedTheServer) {
  // A port that was just listened on and has no listener now.
  const std::string refused = LocalHttpsService().url("/explore-api/v1.2/");
  LocalHttpsService service;
  service.enqueue(Reply::closeConnection());
  service.enqueue(Reply::halfBodyThenClose(std::string(4000, 'x'), 503).withHeader("X-Rate-Limit-Reset", "9"));
  auto session = sessionTrusting(service);
  const struct {
    std::string url;
    URLErrorCode code;
    bool reached;
    std::int64_t status;  // of the head that arrived; 0 for none
  } cases[] = {
      {refused, URLErrorCode::cannotConnectToHost, false, 0},
      {service.url("/drop"), URLErrorCode::networkConnectionLost, true, 0},
      // Half a body: no body is delivered, but the head that did arrive is.
      {service.url("/cut"), URLErrorCode::networkConnectionLost, true, 503},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url);
    const auto done = run(*session, requestFor(c.url, "POST", "a"));
    EXPECT_EQ(done->calls(), 1);
    EXPECT_EQ(done->urlErrorCode(), code(c.code));
    EXPECT_FALSE(done->body().has_value());
    EXPECT_EQ(done->error()->textForKey(NSURLErrorFailingURLStringErrorKey), c.url);
    EXPECT_THAT(done->error()->localizedFailureReason().value_or(""), HasSubstr("libcurl"));
    EXPECT_EQ(done->error()->deliveryFacts().requestMayHaveReachedServer, c.reached);
    const auto response = done->response();
    EXPECT_EQ(response ? response->statusCode() : 0, c.status);
    if (response) {
      EXPECT_EQ(response->valueForHeaderField("X-Rate-Limit-Reset"), "9");
    }
  }
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

TEST(URLSessionRedirects, FollowsHttpsRedirectsUpToFiveAndA307Or308TakesTheBodyAlongOnce) {
  LocalHttpsService service;
  service.setHandler([&service](const RecordedRequest& request) {
    if (request.target == "/start") return Reply::redirect(service.url("/final"), 303);
    if (request.target == "/temporary") return Reply::redirect(service.url("/final"), 307);
    if (request.target == "/permanent") return Reply::redirect("/final", 308);
    if (request.target == "/final") return Reply::text("arrived");
    if (request.target == "/loop") return Reply::redirect("/loop");
    if (request.target == "/downgrade")
      return Reply::redirect("http://127.0.0.1:" + std::to_string(service.port()) + "/", 307);
    return Reply::withStatus(404);
  });
  auto session = sessionTrusting(service);
  const std::string plain = "http://127.0.0.1:" + std::to_string(service.port()) + "/";
  const struct {
    std::string url;
    URLErrorCode code;  // unknown: none
    std::size_t requests;
    const char* finalMethod;  // of the request that arrived last
  } cases[] = {
      // 303 turns the POST into a GET of /final; 307 and 308 keep both.
      {service.url("/start"), URLErrorCode::unknown, 2, "GET"},
      {service.url("/temporary"), URLErrorCode::unknown, 2, "POST"},
      {service.url("/permanent"), URLErrorCode::unknown, 2, "POST"},
      {service.url("/loop"), URLErrorCode::httpTooManyRedirects, 6, "GET"},
      {service.url("/downgrade"), URLErrorCode::unsupportedURL, 1, "POST"},
      {plain, URLErrorCode::unsupportedURL, 0, ""},
  };
  for (const bool resend : {false, true}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(c.url + (resend ? " (may be resent)" : ""));
      const std::size_t before = service.requestCount();
      auto request = requestFor(c.url, "POST", "x=1");
      request.allowsTransportResend = resend;
      const auto done = run(*session, request);
      EXPECT_EQ(done->urlErrorCode(), c.code == URLErrorCode::unknown ? 0 : code(c.code))
          << (done->error() ? done->error()->description() : "");
      ASSERT_EQ(service.requestCount() - before, c.requests);
      if (c.requests > 0) {
        const auto last = service.requests().back();
        EXPECT_EQ(last.method, c.finalMethod);
        EXPECT_EQ(last.body, last.method == "POST" ? "x=1" : "");
      }
      if (!done->error()) {
        EXPECT_EQ(done->body(), "arrived");
        EXPECT_EQ(done->response()->url().absoluteString(), service.url("/final"));
      }
    }
  }
}

TEST(URLSessionTrust, ServerCertificatesAreVerifiedAgainstTheAuthoritiesAddedSoFar) {
  LocalHttpsService service;
  auto session = URLSession::make({});
  const auto before = run(*session, requestFor(service.url("/"), "POST", "x"));
  EXPECT_EQ(before->urlErrorCode(), code(URLErrorCode::serverCertificateUntrusted));
  EXPECT_THAT(before->error()->localizedFailureReason().value_or(""), HasSubstr("libcurl"));
  EXPECT_EQ(before->response(), nullptr);
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

TEST(URLSessionTransportSettings, PinsAndProxiesDecideWhetherAndHowARequestGoesOut) {
  LocalHttpsService service;
  const std::string closedProxy = "http://" + LocalHttpsService().hostAndPort();
  const std::string wrongPin = "sha256//" + std::string(43, 'A') + "=";
  ::setenv("https_proxy", closedProxy.c_str(), 1);
  const struct {
    std::optional<std::string> proxy;
    const char* noProxy;  // the environment's
    std::vector<std::string> pins;
    URLErrorCode code;  // unknown: none
  } cases[] = {
      {std::nullopt, "", {}, URLErrorCode::cannotConnectToHost},
      {std::nullopt, "127.0.0.1", {}, URLErrorCode::unknown},
      {closedProxy, "127.0.0.1", {}, URLErrorCode::cannotConnectToHost},
      {"", "", {}, URLErrorCode::unknown},
      {"", "", {wrongPin}, URLErrorCode::serverCertificateUntrusted},
      {"", "", {wrongPin, tools::publicKeyPin(service.certificateFile())}, URLErrorCode::unknown},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.proxy.value_or("(environment)") + " " + c.noProxy + " " + std::to_string(c.pins.size()));
    ::setenv("no_proxy", c.noProxy, 1);
    URLSessionConfiguration configuration;
    configuration.proxy = c.proxy;
    configuration.pinnedPublicKeys = c.pins;
    auto session = sessionTrusting(service, configuration);
    const auto done = run(*session, requestFor(service.url("/")));
    EXPECT_EQ(done->urlErrorCode(), c.code == URLErrorCode::unknown ? 0 : code(c.code));
  }
  ::unsetenv("https_proxy");
  ::unsetenv("no_proxy");
}

}  // namespace
}  // namespace orbisgrove::platform::testing
