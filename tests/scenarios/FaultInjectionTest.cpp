// Broken networks and hostile services, through the kit's own clients and
// facade. Every request is answered exactly once, on the main queue, with the
// error value the fault calls for, and the kit lets go of the handler.
#include <orbisgrove/service/OrbisgroveSubmissionFailure.hpp>

#include "FaultyListener.hpp"
#include "KitServiceFixture.hpp"
#include "TestSeams.hpp"
#include "service/ServiceEndpoint.hpp"

namespace orbisgrove::testing {
namespace {

using platform::URLErrorCode;
using namespace std::chrono_literals;

class FaultInjectionTest : public testing::KitServiceFixture {
 protected:
  void TearDown() override {
    testing::setRequestTimeoutCap(std::nullopt);
    KitServiceFixture::TearDown();
  }

  std::shared_ptr<Answer> viaFacade() {
    auto answer = Answer::make();
    OrbisgroveFeedbackKit::shared().getReportCategories(answer->categoriesHandler());
    return answer;
  }

  std::shared_ptr<Answer> viaSaveClient(std::string description = "Road closed") {
    auto answer = Answer::make();
    OrbisgroveSaveUserDataAPIManager::shared().saveUserData(*testing::someReport(std::move(description)),
                                                            answer->saveHandler());
    return answer;
  }

  static void expectOneFailure(const std::shared_ptr<Answer>& answer, std::int64_t code) {
    testing::expectAnsweredOnce(answer);
    EXPECT_FALSE(answer->delivered());
    const auto error = answer->error();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain(), platform::URLErrorDomain);
    EXPECT_EQ(error->code(), code) << error->description();
    EXPECT_FALSE(error->localizedFailureReason().value_or("").empty());
    EXPECT_TRUE(answer->released()) << "the kit still holds the handler";
  }
};

TEST_F(FaultInjectionTest, ConnectionAndTLSFaultsAnswerOnceWithTheirTransportError) {
  using enum OrbisgroveSubmissionFailure;
  struct Case {
    const char* name;
    std::optional<FaultyListener::Fault> fault;  // none: nothing listens, another name's certificate, or no answer
    URLErrorCode code;
    OrbisgroveSubmissionFailure submission;
  };
  const Case cases[] = {
      {"connection refused", std::nullopt, URLErrorCode::cannotConnectToHost, neverSent},
      {"certificate for another name", std::nullopt, URLErrorCode::serverCertificateUntrusted, neverSent},
      {"garbage instead of TLS", FaultyListener::Fault::garbageInsteadOfTLS, URLErrorCode::secureConnectionFailed,
       neverSent},
      {"closed during the handshake", FaultyListener::Fault::closeDuringHandshake, URLErrorCode::secureConnectionFailed,
       neverSent},
      {"reset before the status line", FaultyListener::Fault::resetBeforeStatusLine,
       URLErrorCode::networkConnectionLost, noVerdict},
      {"reset in the middle of the body", FaultyListener::Fault::resetInBody, URLErrorCode::networkConnectionLost,
       noVerdict},
      {"a service that never answers", std::nullopt, URLErrorCode::timedOut, noVerdict},
  };
  for (const Case& fault : cases) {
    SCOPED_TRACE(fault.name);
    std::optional<FaultyListener> listener;
    std::optional<testing::LocalHttpsService> elsewhere;
    if (fault.fault) {
      listener.emplace(*fault.fault);
      testing::pointSharedClientsAt(listener->hostAndPort(), listener->caFile());
    } else if (fault.code == URLErrorCode::serverCertificateUntrusted) {
      elsewhere.emplace(std::vector<std::string>{"elsewhere.example"});
      elsewhere->setDefaultReply(Reply::json(std::string(testing::kTwoCategories)));
      testing::pointSharedClientsAt(elsewhere->hostAndPort(), elsewhere->caFile());
    } else if (fault.code == URLErrorCode::timedOut) {
      testing::setRequestTimeoutCap(1.0);
      service.setDefaultReply(Reply::stalled());
      testing::pointSharedClientsAt(service.hostAndPort(), service.caFile());
    } else {
      // A port that was just listened on and has no listener now.
      testing::pointSharedClientsAt(testing::LocalHttpsService().hostAndPort(), service.caFile());
    }
    const auto started = std::chrono::steady_clock::now();
    expectOneFailure(viaFacade(), urlCode(fault.code));
    const auto save = viaSaveClient();
    expectOneFailure(save, urlCode(fault.code));
    EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);  // a stalled request ends at the 1-second cap
    EXPECT_EQ(classifySubmissionFailure(*save->error()), fault.submission);
    if (listener) {
      EXPECT_EQ(listener->connectionCount(), 2u) << "a failed request was sent again";
    }
    if (elsewhere) {
      EXPECT_EQ(elsewhere->requestCount(), 0u);
    }
  }
  EXPECT_FALSE(storedListData());
}

TEST_F(FaultInjectionTest, SubmissionLostAfterItWentOutIsNotSentAgain) {
  // The categories request leaves a kept-alive connection, which the save
  // reuses; the service reads the save and closes without a reply.
  service.enqueue(Reply::json(std::string(testing::kTwoCategories)));
  service.enqueue(Reply::closeConnection());
  auto categories = Answer::make();
  OrbisgroveReportCategoriesAPIManager::shared().getReportCategories(categories->categoriesHandler());
  testing::expectAnsweredOnce(categories);
  const auto save = viaSaveClient();
  expectOneFailure(save, urlCode(URLErrorCode::networkConnectionLost));
  EXPECT_EQ(classifySubmissionFailure(*save->error()), OrbisgroveSubmissionFailure::noVerdict);
  const auto requests = service.requests();
  ASSERT_EQ(requests.size(), 2u) << "the save was sent again";
  if (kKitsOwnSession) {
    EXPECT_EQ(requests[1].connection, requests[0].connection);
  }
  EXPECT_TRUE(requests[1].body.starts_with("q=705"));
}

// A few seconds, sanitizers included; ORBISGROVE_SOAK_REQUESTS=N for a longer soak.
TEST_F(FaultInjectionTest, TenThousandRequestsInARowKeepOneConnection) {
  const char* configured = std::getenv("ORBISGROVE_SOAK_REQUESTS");
  const int total = configured ? std::atoi(configured) : 10000;
  ASSERT_GT(total, 0);
  service.setDefaultReply(Reply::json(std::string(testing::kTwoCategories)));
  int answered = 0;
  int failures = 0;
  std::function<void()> next = [&] {
    OrbisgroveReportCategoriesAPIManager::shared().getReportCategories([&](auto list, auto error) {
      if (error || !list || list->size() != 2) ++failures;
      if (++answered < total) next();
    });
  };
  next();
  ASSERT_TRUE(platform::MainQueue::shared().runUntil([&] { return answered == total; }, 300s));
  platform::MainQueue::shared().runUntil([] { return false; }, 50ms);
  EXPECT_EQ(answered, total);
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(service.requestCount(), static_cast<std::size_t>(total));
  if (kKitsOwnSession) {
    EXPECT_LE(service.connectionCount(), 2u);
  }
}

TEST_F(FaultInjectionTest, CancellingInEveryStateAnswersOnce) {
  const auto cancelled = urlCode(URLErrorCode::cancelled);
  {
    SCOPED_TRACE("suspended");
    auto answer = Answer::make();
    const auto task =
        makeServiceDataTask(OrbisgroveReportCategoriesAPIManager::shared().urlForReportCategories(), "q=712",
                            {[answer](ServiceReply) { return [answer] { answer->categoriesHandler()({}, nullptr); }; },
                             [answer](auto error) { answer->categoriesHandler()(std::nullopt, std::move(error)); }});
    task->cancel();
    task->resume();
    expectOneFailure(answer, cancelled);
    EXPECT_EQ(service.requestCount(), 0u);
  }
  {
    SCOPED_TRACE("waiting for the reply, and queued behind busy connections");
    service.setDefaultReply(Reply::json(R"({"response":"201","data":{"name":"kept"}})").stalledUntilReleased());
    std::vector<std::shared_ptr<Answer>> busy;
    std::vector<std::shared_ptr<platform::DataTask>> tasks;
    // One after another, so that the first six surely hold the six
    // connections the session opens to a host and the last two queue.
    for (std::size_t i = 0; i < 8; ++i) {
      busy.push_back(Answer::make());
      tasks.push_back(
          OrbisgroveSaveUserDataAPIManager::shared().saveUserData(*testing::someReport(), busy.back()->saveHandler()));
      if (i < 6) {
        ASSERT_TRUE(service.waitForStalled(i + 1));
      }
    }
    ASSERT_EQ(service.requestCount(), 6u);
    tasks[7]->cancel();
    expectOneFailure(busy[7], cancelled);
    tasks[0]->cancel();
    expectOneFailure(busy[0], cancelled);
    // The one that took the cancelled one's connection is held too, later.
    const std::vector<std::shared_ptr<Answer>> others(busy.begin() + 1, busy.begin() + 7);
    service.setDefaultReply(Reply::json(R"({"response":"201","data":{"name":"kept"}})"));
    bool answered = false;
    for (int round = 0; round < 100 && !answered; ++round) {
      service.releaseStalled();
      answered = testing::runMainQueueUntilAnswered(others, 100ms);
    }
    ASSERT_TRUE(answered);
    for (const auto& answer : others) {
      EXPECT_EQ(answer->calls(), 1);
      EXPECT_EQ(answer->recordName(), "kept") << (answer->error() ? answer->error()->description() : "");
    }
  }
  for (const auto fault : {FaultyListener::Fault::silentHandshake, FaultyListener::Fault::silentInBody}) {
    SCOPED_TRACE(fault == FaultyListener::Fault::silentHandshake ? "connecting" : "receiving the body");
    FaultyListener listener(fault);
    testing::pointSharedClientsAt(listener.hostAndPort(), listener.caFile());
    auto answer = Answer::make();
    const auto task = OrbisgroveReportCategoriesAPIManager::shared().getReportCategories(answer->categoriesHandler());
    ASSERT_TRUE(listener.waitForFaults(1));
    task->cancel();
    expectOneFailure(answer, cancelled);
  }
  testing::pointSharedClientsAt(service.hostAndPort(), service.caFile());
  {
    SCOPED_TRACE("racing the reply from another thread, and after completion");
    service.setDefaultReply(Reply::json(std::string(testing::kTwoCategories)));
    std::vector<std::shared_ptr<Answer>> answers;
    std::vector<std::shared_ptr<platform::DataTask>> tasks;
    for (int round = 0; round < 100; ++round) {
      answers.push_back(Answer::make());
      tasks.push_back(
          OrbisgroveReportCategoriesAPIManager::shared().getReportCategories(answers.back()->categoriesHandler()));
      std::thread([task = tasks.back(), round] {
        std::this_thread::sleep_for(std::chrono::microseconds(round * 20));
        task->cancel();
      }).join();
    }
    ASSERT_TRUE(testing::runMainQueueUntilAnswered(answers));
    for (const auto& task : tasks) task->cancel();
    ASSERT_TRUE(testing::runMainQueueUntilAnswered(answers));
    for (const auto& answer : answers) {
      EXPECT_EQ(answer->calls(), 1);
      const auto error = answer->error();
      EXPECT_TRUE(error ? error->code() == urlCode(URLErrorCode::cancelled) : answer->delivered() == 2u);
    }
  }
}

}  // namespace
}  // namespace orbisgrove::testing
