// What the hardening tests share: the recording of one request's answer
// (how often it came, on which thread, what it carried, and whether the kit
// let go of the handler afterwards), and pointing the shared clients at a host.
#pragma once

#include <gtest/gtest.h>

#include <orbisgrove/OrbisgroveFeedbackKit.hpp>
#include <orbisgrove/platform/URLError.hpp>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "service/OrbisgroveReportCategoriesAPIManager.hpp"

namespace orbisgrove::testing {

/// One request's answer. The handlers made here hold the recording; once the
/// answer has come and the kit has let go of the handler, the test holds the
/// only reference again (released()).
class Answer : public std::enable_shared_from_this<Answer> {
 public:
  static std::shared_ptr<Answer> make() { return std::make_shared<Answer>(); }

  std::function<void(std::optional<OrbisgroveReportCategoriesList>, std::shared_ptr<const platform::Error>)>
  categoriesHandler() {
    return [self = shared_from_this()](std::optional<OrbisgroveReportCategoriesList> list,
                                       std::shared_ptr<const platform::Error> error) {
      self->record(list ? std::optional<std::size_t>(list->size()) : std::nullopt, std::move(error));
    };
  }

  OrbisgroveSaveUserDataAPIManager::CompletionHandler saveHandler() {
    return [self = shared_from_this()](std::shared_ptr<OrbisgroveUserDataInfo> record,
                                       std::shared_ptr<const platform::Error> error) {
      self->record(record ? std::optional<std::size_t>(1) : std::nullopt, std::move(error));
      if (record) {
        const std::lock_guard lock(self->mutex_);
        self->recordName_ = record->name();
      }
    };
  }

  int calls() const { return calls_.load(); }
  bool onMainThread() const { return onMainThread_.load(); }
  /// How many categories (or 1 for a record) arrived; nothing when none did.
  std::optional<std::size_t> delivered() const {
    const std::lock_guard lock(mutex_);
    return delivered_;
  }
  std::shared_ptr<const platform::Error> error() const {
    const std::lock_guard lock(mutex_);
    return error_;
  }
  std::optional<std::string> recordName() const {
    const std::lock_guard lock(mutex_);
    return recordName_;
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
  void record(std::optional<std::size_t> delivered, std::shared_ptr<const platform::Error> error) {
    onMainThread_.store(platform::MainQueue::shared().isMainThread());
    {
      const std::lock_guard lock(mutex_);
      delivered_ = delivered;
      error_ = std::move(error);
    }
    calls_.fetch_add(1);
  }

  std::atomic<int> calls_{0};
  std::atomic<bool> onMainThread_{false};
  mutable std::mutex mutex_;
  std::optional<std::size_t> delivered_;
  std::shared_ptr<const platform::Error> error_;
  std::optional<std::string> recordName_;
};

inline std::int64_t urlCode(platform::URLErrorCode code) { return static_cast<std::int64_t>(code); }

/// Points both shared clients at `hostAndPort` and trusts `caFile`.
inline void pointSharedClientsAt(const std::string& hostAndPort, const std::string& caFile) {
  platform::addTrustedCertificates(caFile);
  const auto endpoint = platform::URL::fromComponents("https", hostAndPort);
  ASSERT_TRUE(endpoint);
  OrbisgroveReportCategoriesAPIManager::shared().setApiEndpoint(*endpoint);
  OrbisgroveSaveUserDataAPIManager::shared().setApiEndpoint(*endpoint);
}

/// A submission the service would accept.
inline std::shared_ptr<OrbisgroveSaveUserDataOptions> someReport(std::string description = "Road closed") {
  const auto categories = platform::JSONDecoder().decode<OrbisgroveReportCategoriesList>(
      R"([{"reportId":"1","parentId":"0"},{"reportId":"101","parentId":"1"}])");
  return OrbisgroveSaveUserDataOptions::initWithCoordinate(platform::Coordinate{52.52, 13.405}, categories[0],
                                                           categories[1], std::move(description));
}

}  // namespace orbisgrove::testing
