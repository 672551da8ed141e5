// The session against the local HTTPS service: what goes on the wire, what a
// completion receives, and that every task completes exactly once.
#include "SessionTestSupport.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
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

  auto post = Completion::make();
  session->dataTask(requestFor(service.url("/empty"), "POST", ""), post->handler())->resume();
  ASSERT_TRUE(post->wait());
  auto get = Completion::make();
  session->dataTask(requestFor(service.url("/plain?x=1")), get->handler())->resume();
  ASSERT_TRUE(get->wait());
  // Large enough that libcurl would otherwise ask for 100-continue first.
  std::string large(2 * 1024 * 1024 + 7, '\0');
  for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>(i * 7 % 251);
  auto put = Completion::make();
  session->dataTask(requestFor(service.url("/large"), "PUT", large), put->handler())->resume();
  ASSERT_TRUE(put->wait());
  EXPECT_EQ(put->error(), nullptr);

  const auto requests = service.requests();
  ASSERT_EQ(requests.size(), 3U);
  EXPECT_EQ(requests[2].method, "PUT");
  EXPECT_THAT(requests[2].headerNames(), UnorderedElementsAre("Host", "Content-Length"));
  EXPECT_TRUE(requests[2].body == large) << "the large body arrived altered (" << requests[2].body.size() << " bytes)";
  EXPECT_EQ(requests[0].method, "POST");
  EXPECT_THAT(requests[0].headerNames(), UnorderedElementsAre("Host", "Content-Length"));
  EXPECT_EQ(requests[0].header("Content-Length"), "0");
  EXPECT_EQ(requests[1].method, "GET");
  EXPECT_EQ(requests[1].target, "/plain?x=1");
  EXPECT_THAT(requests[1].headerNames(), UnorderedElementsAre("Host"));

  // The service's default reply is a 200 without body: "", never "no body".
  for (const auto& done : {post, get}) {
    EXPECT_EQ(done->error(), nullptr);
    EXPECT_EQ(done->body(), std::optional<std::string>(""));
    ASSERT_NE(done->response(), nullptr);
    EXPECT_EQ(done->response()->statusCode(), 200);
  }
}

TEST(URLSessionRequests, HeaderFieldsThatWouldCorruptTheRequestAreRefused) {
  LocalHttpsService service;
  auto session = sessionTrusting(service);
  for (const auto& [name, value] : std::vector<std::pair<std::string, std::string>>{
           {"X-Injected", "a\r\nX-Evil: 1"}, {"Bad Name", "v"}, {"X-Null", std::string("a\0b", 3)}}) {
    SCOPED_TRACE(name);
    auto request = requestFor(service.url("/"), "POST", "body");
    request.allHTTPHeaderFields = {{name, value}};
    auto done = Completion::make();
    session->dataTask(request, done->handler())->resume();
    ASSERT_TRUE(done->wait());
    EXPECT_EQ(done->urlErrorCode(), code(URLErrorCode::unknown));
    EXPECT_FALSE(done->body().has_value());
  }
  // Fields the session itself owns are not taken from the caller.
  auto request = requestFor(service.url("/"), "POST", "body");
  request.allHTTPHeaderFields = {{"Content-Length", "999"}, {"Expect", "100-continue"}, {"Accept", "application/json"}};
  auto done = Completion::make();
  session->dataTask(request, done->handler())->resume();
  ASSERT_TRUE(done->wait());
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
  constexpr int count = 6;
  for (int i = 0; i < count; ++i) {
    auto done = Completion::make();
    session
        ->dataTask(requestFor(service.url("/" + std::to_string(i)), "POST", "n=" + std::to_string(i)), done->handler())
        ->resume();
    ASSERT_TRUE(done->wait());
    ASSERT_EQ(done->error(), nullptr) << done->error()->description();
  }
  EXPECT_EQ(service.requestCount(), static_cast<std::size_t>(count));
  EXPECT_EQ(service.connectionCount(), 1U);
}

TEST(URLSessionConnections, HundredsOfConcurrentTasksEachCompleteOnceWithTheirOwnReply) {
  LocalHttpsService service;
  service.setHandler([](const RecordedRequest& request) { return Reply::text("reply to " + request.target); });
  auto session = sessionTrusting(service);

  constexpr int count = 300;
  std::mutex mutex;
  std::condition_variable allDone;
  std::vector<int> calls(count, 0);
  std::vector<std::string> bodies(count);
  int finished = 0;
  std::vector<std::shared_ptr<DataTask>> tasks;
  for (int i = 0; i < count; ++i) {
    tasks.push_back(session->dataTask(requestFor(service.url("/task/" + std::to_string(i))),
                                      [&, i](std::optional<std::string> body, std::shared_ptr<const URLResponse>,
                                             std::shared_ptr<const Error> error) {
                                        const std::lock_guard lock(mutex);
                                        ++calls[static_cast<std::size_t>(i)];
                                        bodies[static_cast<std::size_t>(i)] =
                                            error ? error->description() : body.value_or("<no body>");
                                        ++finished;
                                        allDone.notify_all();
                                      }));
  }
  // Started from several threads at once, as hosts do.
  std::vector<std::thread> starters;
  for (int t = 0; t < 4; ++t) {
    starters.emplace_back([&, t] {
      for (int i = t; i < count; i += 4) tasks[static_cast<std::size_t>(i)]->resume();
    });
  }
  for (auto& starter : starters) starter.join();

  std::unique_lock lock(mutex);
  ASSERT_TRUE(allDone.wait_for(lock, 30s, [&] { return finished >= count; })) << finished << " of " << count;
  lock.unlock();
  std::this_thread::sleep_for(50ms);
  lock.lock();
  for (int i = 0; i < count; ++i) {
    const auto index = static_cast<std::size_t>(i);
    EXPECT_EQ(calls[index], 1) << "task " << i;
    EXPECT_EQ(bodies[index], "reply to /task/" + std::to_string(i));
  }
  EXPECT_EQ(service.requestCount(), static_cast<std::size_t>(count));
  // Transfers share a few kept-alive connections instead of one each.
  EXPECT_LE(service.connectionCount(), 6U);
}

TEST(URLSessionCancel, BeforeResumeCompletesOnceWithoutTouchingTheNetwork) {
  LocalHttpsService service;
  auto session = sessionTrusting(service);
  auto done = Completion::make();
  const auto task = session->dataTask(requestFor(service.url("/never")), done->handler(session.get()));
  task->cancel();
  ASSERT_TRUE(done->wait());
  task->resume();
  task->cancel();
  std::this_thread::sleep_for(100ms);

  EXPECT_EQ(done->calls(), 1);
  EXPECT_EQ(done->urlErrorCode(), code(URLErrorCode::cancelled));
  EXPECT_EQ(failingURLOf(*done->error()), service.url("/never"));
  EXPECT_FALSE(done->body().has_value());
  EXPECT_FALSE(done->hasResponse());
  EXPECT_TRUE(done->ranOnDeliveryThread());
  EXPECT_EQ(task->state(), DataTask::State::completed);
  EXPECT_EQ(service.requestCount(), 0U);
}

TEST(URLSessionCancel, WhileTheServiceHoldsTheRequestCompletesOnceAsCancelled) {
  LocalHttpsService service;
  service.setDefaultReply(Reply::text("late").stalledUntilReleased());
  auto session = sessionTrusting(service);
  auto done = Completion::make();
  const auto task = session->dataTask(requestFor(service.url("/slow"), "POST", "x"), done->handler());
  task->resume();
  ASSERT_TRUE(service.waitForStalled(1));
  std::thread([task] { task->cancel(); }).join();
  ASSERT_TRUE(done->wait());
  service.releaseStalled();
  std::this_thread::sleep_for(100ms);

  EXPECT_EQ(done->calls(), 1);
  EXPECT_EQ(done->urlErrorCode(), code(URLErrorCode::cancelled));
  EXPECT_FALSE(done->body().has_value());
  EXPECT_FALSE(done->hasResponse());
  EXPECT_EQ(task->state(), DataTask::State::completed);
}

TEST(URLSessionCancel, AfterCompletionChangesNothing) {
  LocalHttpsService service;
  service.enqueue(Reply::text("done"));
  auto session = sessionTrusting(service);
  auto done = Completion::make();
  const auto task = session->dataTask(requestFor(service.url("/")), done->handler());
  task->resume();
  ASSERT_TRUE(done->wait());
  task->cancel();
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(done->calls(), 1);
  EXPECT_EQ(done->error(), nullptr);
  EXPECT_EQ(done->body(), "done");
}

TEST(URLSessionLifetime, CompletionHandlerIsReleasedOnceItHasRun) {
  LocalHttpsService service;
  auto session = sessionTrusting(service);
  auto captured = std::make_shared<int>(7);
  const std::weak_ptr<int> watch = captured;
  auto done = Completion::make();
  auto record = done->handler();
  const auto task = session->dataTask(requestFor(service.url("/")),
                                      [record, captured = std::move(captured)](auto body, auto response, auto error) {
                                        record(std::move(body), std::move(response), std::move(error));
                                      });
  task->resume();
  ASSERT_TRUE(done->wait());
  // The caller still holds the task; what the handler captured must go anyway.
  const auto deadline = std::chrono::steady_clock::now() + 2s;
  while (!watch.expired() && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(5ms);
  EXPECT_TRUE(watch.expired());
  EXPECT_EQ(task->state(), DataTask::State::completed);
}

TEST(URLSessionLifetime, DestroyingTheSessionCancelsWhatIsInFlight) {
  LocalHttpsService service;
  service.setDefaultReply(Reply::stalled());
  auto session = sessionTrusting(service);
  std::vector<std::shared_ptr<Completion>> running;
  for (int i = 0; i < 3; ++i) {
    running.push_back(Completion::make());
    session->dataTask(requestFor(service.url("/held")), running.back()->handler())->resume();
  }
  auto suspended = Completion::make();
  const auto suspendedTask = session->dataTask(requestFor(service.url("/later")), suspended->handler());
  ASSERT_TRUE(service.waitForStalled(3));

  session.reset();
  for (const auto& done : running) {
    EXPECT_EQ(done->calls(), 1) << "completions run before the destructor returns";
    EXPECT_EQ(done->urlErrorCode(), code(URLErrorCode::cancelled));
  }
  // A task outliving its session still completes exactly once.
  suspendedTask->resume();
  suspendedTask->resume();
  EXPECT_EQ(suspended->calls(), 1);
  EXPECT_EQ(suspended->urlErrorCode(), code(URLErrorCode::cancelled));
}

TEST(URLSessionFailures, RefusedConnectionIsCannotConnect) {
  // A port that was just free and has no listener.
  const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(probe, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  socklen_t length = sizeof address;
  ASSERT_EQ(::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length), 0);
  ::close(probe);
  const std::string url = "https://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/explore-api/v1.2/";

  auto session = URLSession::make({});
  auto done = Completion::make();
  session->dataTask(requestFor(url, "POST", "q=712"), done->handler())->resume();
  ASSERT_TRUE(done->wait());
  EXPECT_EQ(done->calls(), 1);
  EXPECT_EQ(done->urlErrorCode(), code(URLErrorCode::cannotConnectToHost));
  EXPECT_FALSE(done->body().has_value());
  EXPECT_FALSE(done->hasResponse());
  const auto error = done->error();
  EXPECT_EQ(failingURLOf(*error), url);
  EXPECT_THAT(error->localizedFailureReason().value_or(""), HasSubstr("libcurl"));
}

TEST(URLSessionFailures, DroppedConnectionsAreConnectionLost) {
  LocalHttpsService service;
  service.enqueue(Reply::closeConnection());
  auto session = sessionTrusting(service);
  auto dropped = Completion::make();
  session->dataTask(requestFor(service.url("/drop"), "POST", "a"), dropped->handler())->resume();
  ASSERT_TRUE(dropped->wait());
  EXPECT_EQ(dropped->urlErrorCode(), code(URLErrorCode::networkConnectionLost));
  EXPECT_FALSE(dropped->body().has_value());
  EXPECT_FALSE(dropped->hasResponse());

  // Half a body: no body is delivered, but the head that did arrive is.
  service.enqueue(Reply::halfBodyThenClose(std::string(4000, 'x'), 503).withHeader("X-Rate-Limit-Reset", "9"));
  auto cut = Completion::make();
  session->dataTask(requestFor(service.url("/cut"), "POST", "b"), cut->handler())->resume();
  ASSERT_TRUE(cut->wait());
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
  std::vector<std::shared_ptr<Completion>> done;
  for (int i = 0; i < 3; ++i) {
    done.push_back(Completion::make());
    session->dataTask(requestFor(service.url("/big")), done.back()->handler())->resume();
    ASSERT_TRUE(done.back()->wait());
  }
  EXPECT_EQ(done[0]->error(), nullptr);
  EXPECT_EQ(done[0]->body().value_or("").size(), 1024U);
  for (int i = 1; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(done[static_cast<std::size_t>(i)]->urlErrorCode(), code(URLErrorCode::dataLengthExceedsMaximum));
    EXPECT_FALSE(done[static_cast<std::size_t>(i)]->body().has_value());
    EXPECT_EQ(done[static_cast<std::size_t>(i)]->calls(), 1);
  }
}

TEST(URLSessionFailures, TimeoutCapEndsAStalledRequest) {
  LocalHttpsService service;
  service.setDefaultReply(Reply::stalled());
  URLSessionConfiguration configuration;
  configuration.timeoutCap = 0.3;
  auto session = sessionTrusting(service, configuration);
  auto done = Completion::make();
  const auto started = std::chrono::steady_clock::now();
  session->dataTask(requestFor(service.url("/slow"), "POST", "x"), done->handler())->resume();
  ASSERT_TRUE(done->wait());
  const auto elapsed = std::chrono::steady_clock::now() - started;
  EXPECT_EQ(done->urlErrorCode(), code(URLErrorCode::timedOut));
  EXPECT_FALSE(done->body().has_value());
  EXPECT_GE(elapsed, 250ms);
  EXPECT_LT(elapsed, 5s);
  EXPECT_EQ(done->calls(), 1);
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

  auto followed = Completion::make();
  session->dataTask(requestFor(service.url("/start"), "POST", "x"), followed->handler())->resume();
  ASSERT_TRUE(followed->wait());
  EXPECT_EQ(followed->body(), "arrived");
  ASSERT_NE(followed->response(), nullptr);
  EXPECT_EQ(followed->response()->url().absoluteString(), service.url("/final"));
  EXPECT_EQ(service.requestCount(), 2U);

  auto looping = Completion::make();
  session->dataTask(requestFor(service.url("/loop")), looping->handler())->resume();
  ASSERT_TRUE(looping->wait());
  EXPECT_EQ(looping->urlErrorCode(), code(URLErrorCode::httpTooManyRedirects));
  EXPECT_EQ(service.requestCount(), 2U + 6U);

  auto downgraded = Completion::make();
  session->dataTask(requestFor(service.url("/downgrade")), downgraded->handler())->resume();
  ASSERT_TRUE(downgraded->wait());
  EXPECT_EQ(downgraded->urlErrorCode(), code(URLErrorCode::unsupportedURL));

  auto plain = Completion::make();
  session->dataTask(requestFor("http://127.0.0.1:" + std::to_string(service.port()) + "/"), plain->handler())->resume();
  ASSERT_TRUE(plain->wait());
  EXPECT_EQ(plain->urlErrorCode(), code(URLErrorCode::unsupportedURL))
      << (plain->error() ? plain->error()->description() : "");
  EXPECT_EQ(service.requestCount(), 9U);
}

TEST(URLSessionTrust, ServerCertificatesAreVerified) {
  LocalHttpsService service;
  auto untrusting = URLSession::make({});
  auto done = Completion::make();
  untrusting->dataTask(requestFor(service.url("/"), "POST", "x"), done->handler())->resume();
  ASSERT_TRUE(done->wait());
  EXPECT_EQ(done->urlErrorCode(), code(URLErrorCode::serverCertificateUntrusted));
  EXPECT_THAT(done->error()->localizedFailureReason().value_or(""), HasSubstr("libcurl"));
  EXPECT_FALSE(done->hasResponse());

  // Trusted authority, but a certificate made for another name.
  LocalHttpsService elsewhere(LocalHttpsServiceOptions{{"elsewhere.example"}});
  auto session = sessionTrusting(elsewhere);
  auto mismatch = Completion::make();
  session->dataTask(requestFor(elsewhere.url("/")), mismatch->handler())->resume();
  ASSERT_TRUE(mismatch->wait());
  EXPECT_EQ(mismatch->urlErrorCode(), code(URLErrorCode::serverCertificateUntrusted));
  EXPECT_EQ(service.requestCount() + elsewhere.requestCount(), 0U);
}

TEST(URLSessionTrust, AuthoritiesAddedLaterApplyToLaterRequests) {
  LocalHttpsService service;
  auto session = URLSession::make({});
  auto before = Completion::make();
  session->dataTask(requestFor(service.url("/")), before->handler())->resume();
  ASSERT_TRUE(before->wait());
  EXPECT_EQ(before->urlErrorCode(), code(URLErrorCode::serverCertificateUntrusted));

  session->addTrustedCertificates(service.caFile());
  auto after = Completion::make();
  session->dataTask(requestFor(service.url("/")), after->handler())->resume();
  ASSERT_TRUE(after->wait());
  EXPECT_EQ(after->error(), nullptr);
  EXPECT_EQ(service.requestCount(), 1U);
}

TEST(URLSessionTrust, AnUnreadableAuthorityFileIsReportedNotIgnored) {
  LocalHttpsService service;
  URLSessionConfiguration configuration;
  configuration.additionalTrustedCertificateFiles = {service.caFile(), "/nonexistent/authority.pem"};
  auto session = URLSession::make(configuration);
  auto done = Completion::make();
  session->dataTask(requestFor(service.url("/")), done->handler())->resume();
  ASSERT_TRUE(done->wait());
  ASSERT_EQ(done->urlErrorCode(), code(URLErrorCode::secureConnectionFailed));
  EXPECT_THAT(done->error()->localizedFailureReason().value_or(""), HasSubstr("/nonexistent/authority.pem"));
  EXPECT_EQ(service.requestCount(), 0U);
}

}  // namespace
}  // namespace orbisgrove::platform::testing
