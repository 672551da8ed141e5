// What the end-to-end tests of the clients, the facade and the hardening
// tests share: the recording of one request's answer, pointing the shared
// clients at a host, and a fixture with a local HTTPS service, a private
// cache directory and a quiet console.
#pragma once

#include "TestPrelude.hpp"

#include <orbisgrove/platform/URLError.hpp>

#include <LocalHttpsService.hpp>

#include "LocaleScope.hpp"
#include "Reports.hpp"
#include "ScratchFiles.hpp"
#include "kit/ReportCategoryCache.hpp"
#include "platform/core/Date.hpp"
#include "platform/files/PropertyList.hpp"
#include "service/OrbisgroveReportCategoriesAPIManager.hpp"

namespace orbisgrove::testing {

/// One request's answer: how often it came, on which thread, what it carried.
/// The handlers made here hold the recording; once the answer has come and
/// the kit has let go of the handler, the test holds the only reference again
/// (released()).
class Answer : public std::enable_shared_from_this<Answer> {
 public:
  static std::shared_ptr<Answer> make() { return std::make_shared<Answer>(); }

  OrbisgroveReportCategoriesAPIManager::CompletionHandler categoriesHandler() {
    return [self = shared_from_this()](std::optional<OrbisgroveReportCategoriesList> list,
                                       std::shared_ptr<const platform::Error> error) {
      self->record(std::move(list), nullptr, std::move(error));
    };
  }
  OrbisgroveSaveUserDataAPIManager::CompletionHandler saveHandler() {
    return [self = shared_from_this()](std::shared_ptr<OrbisgroveUserDataInfo> record,
                                       std::shared_ptr<const platform::Error> error) {
      self->record(std::nullopt, std::move(record), std::move(error));
    };
  }

  int calls() const { return calls_.load(); }
  bool onMainThread() const { return onMainThread_.load(); }
  std::optional<OrbisgroveReportCategoriesList> categories() const { return read(categories_); }
  std::shared_ptr<OrbisgroveUserDataInfo> userData() const { return read(userData_); }
  std::shared_ptr<const platform::Error> error() const { return read(error_); }
  /// How many categories (or 1 for a record) arrived; nothing when none did.
  std::optional<std::size_t> delivered() const {
    if (userData()) return 1;
    const auto list = categories();
    return list ? std::optional<std::size_t>(list->size()) : std::nullopt;
  }
  std::optional<std::string> recordName() const {
    const auto data = userData();
    return data ? data->name() : std::nullopt;
  }
  /// Whether nothing but the caller holds this recording any more, within 5 s
  /// (the delivery thread drops its copy of the handler just after posting).
  bool released() const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (weak_from_this().use_count() > 1) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
  }

 private:
  template <class T>
  T read(const T& field) const {
    const std::lock_guard lock(mutex_);
    return field;
  }

  void record(std::optional<OrbisgroveReportCategoriesList> categories, std::shared_ptr<OrbisgroveUserDataInfo> data,
              std::shared_ptr<const platform::Error> error) {
    onMainThread_.store(platform::MainQueue::shared().isMainThread());
    {
      const std::lock_guard lock(mutex_);
      categories_ = std::move(categories);
      userData_ = std::move(data);
      error_ = std::move(error);
    }
    calls_.fetch_add(1);
  }

  std::atomic<int> calls_{0};
  std::atomic<bool> onMainThread_{false};
  mutable std::mutex mutex_;
  std::optional<OrbisgroveReportCategoriesList> categories_;
  std::shared_ptr<OrbisgroveUserDataInfo> userData_;
  std::shared_ptr<const platform::Error> error_;
};

/// Runs the main queue until every answer has come (false after `timeout`),
/// then a little longer for second answers that must not come.
inline bool runMainQueueUntilAnswered(const std::vector<std::shared_ptr<Answer>>& answers,
                                      std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
  const bool all = platform::MainQueue::shared().runUntil(
      [&] {
        for (const auto& answer : answers) {
          if (!answer || answer->calls() == 0) return false;
        }
        return true;
      },
      timeout);
  platform::MainQueue::shared().runUntil([] { return false; }, std::chrono::milliseconds(50));
  return all;
}

/// Expects `answer` to come exactly once, on the main queue.
inline void expectAnsweredOnce(const std::shared_ptr<Answer>& answer) {
  EXPECT_TRUE(runMainQueueUntilAnswered({answer})) << "no answer";
  EXPECT_EQ(answer->calls(), 1);
  EXPECT_TRUE(answer->onMainThread());
}

inline std::int64_t urlCode(platform::URLErrorCode code) { return static_cast<std::int64_t>(code); }

/// Points both shared clients at `hostAndPort` and trusts `caFile`.
inline void pointSharedClientsAt(const std::string& hostAndPort, const std::string& caFile) {
  platform::addTrustedCertificates(caFile);
  setServiceHost(hostAndPort);
}

inline constexpr std::string_view kTwoCategories =
    R"({"response":"201","data":[{"reportId":"1","reportName":"Road","parentId":"0","created":1},)"
    R"({"reportId":"101","reportName":"Closed","parentId":"1","created":2}]})";

/// Cache file entries: the list as JSON data and its time stamp.
inline platform::PropertyListDictionary cacheEntries(double timestamp,
                                                     std::string_view json = R"([{"reportId":"1"}])") {
  platform::PropertyListDictionary dictionary;
  dictionary.setData(kReportCategoriesKey, json);
  dictionary.setReal(kTimestampKey, timestamp);
  return dictionary;
}

/// The entries of a cache file holding `size` categories saved `secondsAgo`,
/// as another process of the host might have left it.
inline platform::PropertyListDictionary plantedCache(std::size_t size, double secondsAgo = 0) {
  std::string json = "[";
  for (std::size_t i = 0; i < size; ++i) json += std::string(i ? "," : "") + R"({"reportId":"planted"})";
  return cacheEntries(platform::Date::now().secondsSince1970 - secondsAgo, json + "]");
}

/// A private cache directory and a quiet console, for tests of the device cache.
class KitFilesFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    cacheDirectory = freshDirectory("orbisgrove-kit-test");
    platform::setTemporaryDirectory(cacheDirectory.string());
    platform::setConsoleSink([this](std::string_view line) {
      const std::lock_guard lock(consoleMutex);
      console.emplace_back(line);
    });
  }

  void TearDown() override {
    platform::setConsoleSink(nullptr);
    std::filesystem::remove_all(cacheDirectory);
  }

  std::filesystem::path cacheFile() const { return cacheDirectory / "orbisgroveReportCategories.plist"; }
  void writeCache(const platform::PropertyListDictionary& entries) const {
    ASSERT_TRUE(platform::writePropertyListDictionaryAtomically(entries, cacheFile().string()));
  }
  std::optional<std::string> storedListData() const {
    const auto stored = platform::readPropertyListDictionary(cacheFile().string());
    return stored ? stored->data(kReportCategoriesKey) : std::nullopt;
  }

  // Day counts and texts must not depend on the machine's zone and language.
  LocaleScope locale{"en_US", "UTC"};
  std::filesystem::path cacheDirectory;
  std::mutex consoleMutex;
  std::vector<std::string> console;
};

/// The above with a local HTTPS service that the shared clients point at.
class KitServiceFixture : public KitFilesFixture {
 protected:
  void SetUp() override {
    KitFilesFixture::SetUp();
    pointSharedClientsAt(service.hostAndPort(), service.caFile());
    platform::setBundleIdentifier(std::nullopt);
    platform::MainQueue::shared().drain();
  }

  void TearDown() override {
    // Nothing a test started may reach the next one.
    platform::MainQueue::shared().runUntil([] { return false; }, std::chrono::milliseconds(50));
    KitFilesFixture::TearDown();
  }

  /// Runs the main queue until `done` holds; false after 20 seconds.
  static bool runMainQueueUntil(const std::function<bool()>& done) {
    return platform::MainQueue::shared().runUntil(done, std::chrono::seconds(20));
  }

  /// Asks the facade and waits for its one answer; `fromDevice` tells
  /// whether it came before the call returned.
  std::shared_ptr<Answer> askFacade(bool* fromDevice = nullptr) {
    auto answer = Answer::make();
    OrbisgroveFeedbackKit::shared().getReportCategories(answer->categoriesHandler());
    if (fromDevice != nullptr) *fromDevice = answer->calls() > 0;
    expectAnsweredOnce(answer);
    return answer;
  }

  LocalHttpsService service;
};

}  // namespace orbisgrove::testing
