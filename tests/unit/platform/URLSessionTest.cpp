// The session contract, run against each backend: libcurl's, and a host's
// transport that carries every request to the same local HTTPS service (on a
// libcurl session of its own), reporting when requests go out or not. What
// goes on the wire, what a completion receives, and that every task completes
// exactly once.
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

// A host's transport that hands each request to a libcurl session of its
// own; a reporting one tells the kit when the request goes out.
HTTPTransport relayTo(const LocalHttpsService& service, bool reports) {
  const std::shared_ptr<URLSession> carrier = sessionTrusting(service);
  const auto start = [carrier, reports](HTTPTransportRequest request, HTTPTransportCompletion completion) {
    auto carried = requestFor(request.url, request.method, request.body);
    carried.allHTTPHeaderFields = request.headerFields;
    carried.timeoutInterval = request.timeoutSeconds;
    carried.allowsTransportResend = request.allowsResend;
    const auto relay = [completion](auto body, auto response, const std::shared_ptr<const Error>& error) {
      const auto* reply = dynamic_cast<const SessionHTTPURLResponse*>(response.get());
      if (error) {
        return completion(HTTPTransportOutcome::failure(
            static_cast<URLErrorCode>(error->code()), error->deliveryFacts().requestMayHaveReachedServer.value_or(true),
            error->localizedFailureReason().value_or("")));
      }
      const auto& fields = reply->allHeaderFields();
      completion(HTTPTransportOutcome::reply(reply->statusCode(), {fields.begin(), fields.end()}, *body,
                                             reply->httpMajorVersion()));
    };
    carrier->dataTask(carried, relay, reports ? request.sendStarting : nullptr)->resume();
  };
  return {.start = start, .cancel = {}, .reportsSendStart = reports};
}

// The backend by name: "libcurl", or a host's transport ("reportingHost",
// "silentHost") that relays to the same service.
class URLSessionContract : public ::testing::TestWithParam<std::string_view> {
 protected:
  /// A session of its own on the backend under test, trusting `service`'s authority.
  std::unique_ptr<URLSession> sessionFor(const LocalHttpsService& service, URLSessionConfiguration configuration = {}) {
    if (GetParam() == "libcurl") return sessionTrusting(service, std::move(configuration));
    return http::makeHostTransportSession(
        std::make_shared<const HTTPTransport>(relayTo(service, GetParam() == "reportingHost")),
        std::move(configuration));
  }
};

std::string nameOf(const ::testing::TestParamInfo<std::string_view>& tested) { return std::string(tested.param); }
INSTANTIATE_TEST_SUITE_P(Backends, URLSessionContract, ::testing::Values("libcurl", "reportingHost", "silentHost"),
                         nameOf);

// Once their start hook lets them go out.
TEST_P(URLSessionContract, RequestsCarryExactlyTheGivenHeadersAndBodyBytesWithoutExpectContinue) {
  LocalHttpsService service;
  auto session = sessionFor(service);
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
    std::atomic<int> hookCalls{0};
    std::atomic<std::size_t> arrivedAtHook{99};
    const auto task = session->dataTask(request, done->handler(session.get()), [&] {
      arrivedAtHook = service.requestCount();
      return ++hookCalls > 0;
    });
    std::this_thread::sleep_for(i == 0 ? 50ms : 0ms);
    EXPECT_EQ(service.requestCount(), i) << "a task must not start before resume()";
    EXPECT_EQ(task->state(), DataTask::State::suspended);
    task->resume();
    ASSERT_TRUE(done->wait());
    EXPECT_EQ(task->state(), DataTask::State::completed);
    EXPECT_EQ(done->calls(), 1);
    EXPECT_TRUE(done->ranOnDeliveryThread());
    EXPECT_EQ(done->error(), nullptr);
    // The start hook ran once, before the service had the request.
    EXPECT_EQ(hookCalls.load(), 1);
    EXPECT_EQ(arrivedAtHook.load(), i);
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
  // Refused before anything goes out: values that would smuggle a field or a
  // request onto the wire, and a request its start hook holds back.
  const struct {
    std::string name, value;
    URLErrorCode code;
  } refusals[] = {{"X-Injected", "a\r\nX-Evil: 1", URLErrorCode::unknown},
                  {"Bad Name", "v", URLErrorCode::unknown},
                  {"X-Null", std::string("a\0b", 3), URLErrorCode::unknown},
                  {"X-Held", "back", URLErrorCode::cannotLoadFromNetwork}};
  for (const auto& refused : refusals) {
    auto request = requestFor(service.url("/"), "POST", "body");
    request.allHTTPHeaderFields = {{refused.name, refused.value}};
    const auto done = Completion::make();
    session->dataTask(request, done->handler(), [&] { return refused.code == URLErrorCode::unknown; })->resume();
    ASSERT_TRUE(done->wait());
    EXPECT_EQ(done->urlErrorCode(), code(refused.code)) << refused.name;
    EXPECT_EQ(done->error()->deliveryFacts().requestMayHaveReachedServer, false) << refused.name;
  }
  EXPECT_EQ(service.requestCount(), std::size(cases));
  EXPECT_FALSE(session->isDeliveryThread());
}

TEST_P(URLSessionContract, ReplyFieldNamesStayAsSentOverHTTP1AndAreCapitalisedOverHTTP2) {
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
    auto session = sessionFor(service);
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

TEST_P(URLSessionContract, HundredsOfConcurrentTasksShareFewConnectionsAndEachCompletesOnceWithItsOwnReply) {
  LocalHttpsService service;
  service.setHandler([](const RecordedRequest& request) { return Reply::text("reply to " + request.target); });
  auto session = sessionFor(service);
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

TEST_P(URLSessionContract, ACompletionThatThrowsIsToldOnTheConsoleAndTheSessionGoesOn) {
  LocalHttpsService service;
  auto session = sessionFor(service);
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

TEST_P(URLSessionContract, RequestsOfAForkedChildFailAtOnce) {
  LocalHttpsService service;
  const auto session = sessionFor(service);
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
  EXPECT_EQ(service.requestCount(), 1U);
}

// Also for replies larger than the session takes, announced or streamed.
TEST_P(URLSessionContract, FailuresTellTheirCauseAndWhetherTheRequestMayHaveReachedTheServer) {
  // A port that was just listened on and has no listener now.
  const std::string refused = LocalHttpsService().url("/explore-api/v1.2/");
  LocalHttpsService service;
  URLSessionConfiguration configuration;
  configuration.maximumBodyBytes = 1024;
  auto session = sessionFor(service, configuration);
  const std::string tooLarge = "larger than the session accepts";
  const struct {
    std::string url;
    std::optional<Reply> reply;
    URLErrorCode code;  // unknown: none
    const std::string& reason;
    std::int64_t status;  // of the head that arrived over libcurl; 0 for none, -1 unchecked
  } cases[] = {
      {refused, std::nullopt, URLErrorCode::cannotConnectToHost, "libcurl", 0},
      {service.url("/drop"), Reply::closeConnection(), URLErrorCode::networkConnectionLost, "libcurl", 0},
      // Half a body: no body is delivered, but the head that did arrive is.
      {service.url("/cut"), Reply::halfBodyThenClose(std::string(1000, 'x'), 503).withHeader("X-Rate-Limit-Reset", "9"),
       URLErrorCode::networkConnectionLost, "libcurl", 503},
      {service.url("/fits"), Reply::text(std::string(1024, 'a')), URLErrorCode::unknown, "", 0},
      {service.url("/announced"), Reply::text(std::string(1025, 'b')), URLErrorCode::dataLengthExceedsMaximum, tooLarge,
       -1},
      {service.url("/streamed"), Reply::text(std::string(64 * 1024, 'c')).inChunks(),
       URLErrorCode::dataLengthExceedsMaximum, tooLarge, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url);
    if (c.reply) service.enqueue(*c.reply);
    const auto done = run(*session, requestFor(c.url, "POST", "a"));
    EXPECT_EQ(done->calls(), 1);
    EXPECT_EQ(done->urlErrorCode(), c.code == URLErrorCode::unknown ? 0 : code(c.code));
    EXPECT_EQ(done->body().value_or("-").size(), c.code == URLErrorCode::unknown ? 1024U : 1U);
    if (!done->error()) continue;
    EXPECT_EQ(done->error()->textForKey(NSURLErrorFailingURLStringErrorKey), c.url);
    EXPECT_THAT(done->error()->localizedFailureReason().value_or(""), HasSubstr(c.reason));
    EXPECT_EQ(done->error()->deliveryFacts().requestMayHaveReachedServer, c.url != refused);
    // A host's transport reports a failed transfer without the head that arrived.
    const auto response = done->response();
    const std::int64_t status = response ? response->statusCode() : 0;
    EXPECT_EQ(c.status < 0 ? -1 : status, GetParam() == "libcurl" ? c.status : std::min<std::int64_t>(c.status, 0));
    EXPECT_TRUE(status != 503 || response->valueForHeaderField("X-Rate-Limit-Reset") == "9");
  }
}

// What only libcurl's backend does itself: its waiting line, redirects, trust, proxies and pins.
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
