// What only libcurl's backend does itself: its waiting line, redirects,
// trust, proxies and pins. (What every backend does: URLSessionTest.)
#include "SessionTestSupport.hpp"

#include <loopback_tls/LoopbackCertificates.hpp>

namespace orbisgrove::platform::testing {
namespace {

TEST(CurlBackendTest, RequestsWaitingForAConnectionKeepTheirTimeoutsAndCanBeCancelled) {
  LocalHttpsService service;
  service.setDefaultReply(Reply::stalled());
  auto session = sessionTrusting(service.caFile());
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

TEST(CurlBackendTest, FollowsHttpsRedirectsUpToFiveAndA307Or308TakesTheBodyAlongOnce) {
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
  auto session = sessionTrusting(service.caFile());
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

TEST(CurlBackendTest, ServerCertificatesAreVerifiedAgainstTheAuthoritiesAddedSoFar) {
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

TEST(CurlBackendTest, PinsAndProxiesDecideWhetherAndHowARequestGoesOut) {
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
    auto session = sessionTrusting(service.caFile(), configuration);
    const auto done = run(*session, requestFor(service.url("/")));
    EXPECT_EQ(done->urlErrorCode(), c.code == URLErrorCode::unknown ? 0 : code(c.code));
  }
  ::unsetenv("https_proxy");
  ::unsetenv("no_proxy");
}

}  // namespace
}  // namespace orbisgrove::platform::testing
