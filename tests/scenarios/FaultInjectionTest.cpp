// Broken networks, hostile services and a device cache where someone else has
// been at work, through the kit's own clients and facade. Every request is
// answered exactly once, on the main queue, with the error value the fault
// calls for, and the kit lets go of the handler. The kit never reads or writes
// the cache through what it does not own (a link planted at its path, its
// directory swapped for a link), never leaves a damaged file (one that names
// the list twice, a disk that fills up part way through a write), and the host
// still gets its answer. (Directories not ours alone: TemporaryDirectoryTest.)
#include <sys/resource.h>

#include <orbisgrove/service/OrbisgroveSubmissionFailure.hpp>

#include <csignal>
#include <cstring>

#include "FaultyListener.hpp"
#include "KitServiceFixture.hpp"
#include "TestSeams.hpp"
#include "service/ServiceEndpoint.hpp"

namespace orbisgrove {
namespace {

namespace fs = std::filesystem;
using platform::URLErrorCode;
using testing::Answer;
using testing::contentsOf;
using testing::FaultyListener;
using testing::Reply;
using testing::urlCode;
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
    std::optional<FaultyListener::Fault> fault;  // none: nothing listens, or a certificate for another name
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
  };
  for (const Case& fault : cases) {
    SCOPED_TRACE(fault.name);
    std::optional<FaultyListener> listener;
    std::optional<testing::LocalHttpsService> elsewhere;
    if (fault.fault) {
      listener.emplace(*fault.fault);
      testing::pointSharedClientsAt(listener->hostAndPort(), listener->caFile());
    } else if (fault.code == URLErrorCode::serverCertificateUntrusted) {
      elsewhere.emplace(testing::LocalHttpsServiceOptions{{"elsewhere.example"}});
      elsewhere->setDefaultReply(Reply::json(std::string(testing::kTwoCategories)));
      testing::pointSharedClientsAt(elsewhere->hostAndPort(), elsewhere->caFile());
    } else {
      // A port that was just listened on and has no listener now.
      testing::pointSharedClientsAt(testing::LocalHttpsService().hostAndPort(), service.caFile());
    }
    expectOneFailure(viaFacade(), urlCode(fault.code));
    const auto save = viaSaveClient();
    expectOneFailure(save, urlCode(fault.code));
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
  EXPECT_EQ(requests[1].connection, requests[0].connection);
  EXPECT_TRUE(requests[1].body.starts_with("q=705"));
}

TEST_F(FaultInjectionTest, StalledServiceTimesOut) {
  testing::setRequestTimeoutCap(1.0);
  service.setDefaultReply(Reply::stalled());
  const auto started = std::chrono::steady_clock::now();
  const auto categories = viaFacade();
  const auto save = viaSaveClient();
  expectOneFailure(categories, urlCode(URLErrorCode::timedOut));
  expectOneFailure(save, urlCode(URLErrorCode::timedOut));
  EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);
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
  EXPECT_LE(service.connectionCount(), 2u);
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

std::vector<std::string> namesIn(const fs::path& directory) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(directory)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// A binary property list whose dictionary holds the list under
// "reportCategories" and under `secondKey`.
std::string cacheBytesWithTwoLists(std::string_view first, std::string_view secondKey, std::string_view second,
                                   double timestamp) {
  std::string real = "\x23";
  std::uint64_t bits = 0;
  std::memcpy(&bits, &timestamp, sizeof bits);
  for (int shift = 56; shift >= 0; shift -= 8) real += static_cast<char>(bits >> shift);
  // The dictionary's keys are objects 1, 2, 3 (or 1, 1, 3); its values 4, 5, 6.
  const char secondKeyObject = secondKey == kReportCategoriesKey ? '\1' : '\2';
  return testing::binaryPropertyList({std::string{'\xD3', 1, secondKeyObject, 3, 4, 5, 6},
                                      testing::counted(0x5, kReportCategoriesKey), testing::counted(0x5, secondKey),
                                      testing::counted(0x5, kTimestampKey), testing::counted(0x4, first),
                                      testing::counted(0x4, second), real});
}

class CacheSafetyTest : public testing::KitServiceFixture {
 protected:
  void SetUp() override {
    KitServiceFixture::SetUp();
    service.setDefaultReply(Reply::json(std::string(testing::kTwoCategories)));
  }

  // Asks through the facade; true when the answer came from the device.
  bool answeredFromDevice(std::size_t expectedSize) {
    bool fromDevice = false;
    const auto answer = askFacade(&fromDevice);
    EXPECT_FALSE(answer->error());
    EXPECT_EQ(answer->delivered(), expectedSize);
    return fromDevice;
  }

  const testing::ScratchDirectory scratch{"orbisgrove-elsewhere"};
  const fs::path elsewhere = scratch.path();
};

// A link to a fresh list the kit would gladly use, were it to follow it, and
// a link to nothing, which following would create.
TEST_F(CacheSafetyTest, ALinkAtTheCachePathIsNeitherReadNorWrittenThrough) {
  const fs::path victim = elsewhere / "victim.plist";
  std::ofstream(victim, std::ios::binary) << testing::plantedCache(5).xmlBytes();
  const std::string before = contentsOf(victim);
  for (const fs::path& target : {victim, elsewhere / "created-through-link.plist"}) {
    fs::remove(cacheFile());
    fs::create_symlink(target, cacheFile());
    EXPECT_FALSE(answeredFromDevice(2)) << "answered through the link";
    EXPECT_EQ(contentsOf(victim), before);
    EXPECT_EQ(namesIn(elsewhere), std::vector<std::string>{"victim.plist"});
  }
  EXPECT_EQ(service.requestCount(), 2u);
}

TEST_F(CacheSafetyTest, ADirectorySwappedForALinkAfterItsCheckIsNotFollowed) {
  // Once the kit has checked its directory (it writes the cache path next),
  // someone moves it away and links its path to a fresh list of their own.
  const fs::path planted = elsewhere / "planted";
  const fs::path moved = elsewhere / "moved";
  fs::create_directories(planted);
  std::ofstream(planted / kReportCategoryCacheFileName, std::ios::binary) << testing::plantedCache(5).xmlBytes();
  platform::setConsoleSink([&](std::string_view line) {
    if (line != cacheFile().string() || fs::exists(moved)) return;
    fs::rename(cacheDirectory, moved);
    fs::create_symlink(planted, cacheDirectory);
  });
  EXPECT_FALSE(answeredFromDevice(2)) << "answered from the planted list";
  EXPECT_TRUE(fs::exists(moved / kReportCategoryCacheFileName)) << "created in the directory it checked";
  EXPECT_EQ(namesIn(planted), std::vector<std::string>{std::string(kReportCategoryCacheFileName)});
  fs::remove(cacheDirectory);
  fs::rename(moved, cacheDirectory);
}

TEST_F(CacheSafetyTest, AFileNamingTheListTwiceIsDamagedAndReplacedWhole) {
  // Read as it stands, one list would answer and a save would replace the
  // other, so that the next reading could hand out a list the service never
  // sent. A NUL hides the second name from a plain comparison, not from libplist.
  using namespace std::string_view_literals;
  for (const std::string_view secondKey : {kReportCategoriesKey, "reportCategories\0hidden"sv}) {
    SCOPED_TRACE(secondKey.size());
    std::ofstream(cacheFile(), std::ios::binary) << cacheBytesWithTwoLists(
        R"([{"reportId":"one"}])", secondKey, R"([{"reportId":"planted"}])", platform::Date::now().secondsSince1970);
    const std::size_t requestsBefore = service.requestCount();
    EXPECT_FALSE(answeredFromDevice(2)) << "a list of a damaged file was handed out";
    EXPECT_TRUE(answeredFromDevice(2)) << "the service's list did not read back";
    EXPECT_EQ(service.requestCount(), requestsBefore + 1);
  }
}

TEST_F(CacheSafetyTest, AWriteThatFailsPartWayLeavesThePreviousFileWholeAndTheAnswerStillComes) {
  std::ofstream(cacheFile(), std::ios::binary) << testing::plantedCache(1, 9 * 86400.0).xmlBytes();
  const std::string before = contentsOf(cacheFile());
  std::string reply = R"({"response":"201","data":[)";
  for (int i = 0; i < 3000; ++i) reply += std::string(i ? "," : "") + R"({"reportId":")" + std::to_string(i) + R"("})";
  service.setDefaultReply(Reply::json(reply + "]}"));

  // A file size limit cuts the write short as a full disk would. Only the
  // soft limit is lowered, so that it can be raised again.
  rlimit original{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &original), 0);
  rlimit small = original;
  small.rlim_cur = 4096;
  const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool fromDevice = answeredFromDevice(3000);
  ::setrlimit(RLIMIT_FSIZE, &original);
  std::signal(SIGXFSZ, previousHandler);

  EXPECT_FALSE(fromDevice);
  EXPECT_EQ(contentsOf(cacheFile()), before);
  EXPECT_EQ(namesIn(cacheDirectory), std::vector<std::string>{std::string(kReportCategoryCacheFileName)});
}

}  // namespace
}  // namespace orbisgrove
