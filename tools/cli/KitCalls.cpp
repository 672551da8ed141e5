#include "KitCalls.hpp"

#include <chrono>
#include <stdexcept>

#include "CommandLine.hpp"
#include "kit/ReportCategoryCache.hpp"

namespace orbisgrove::tool {
namespace {

// Longer than the request's own 60-second limit: the kit always answers first.
constexpr std::chrono::minutes kPatience{3};

void waitFor(const bool& answered) {
  if (!platform::MainQueue::shared().runUntil([&] { return answered; }, kPatience)) {
    throw std::runtime_error("the kit did not answer in time");
  }
}

}  // namespace

void useServiceHost(const std::string& host) {
  try {
    setServiceHost(host);
  } catch (const std::invalid_argument& failure) {
    throw UsageError(std::string("--host: ") + failure.what());
  }
}

CategoriesAnswer fetchCategories() {
  CategoriesAnswer answer;
  bool answered = false;
  OrbisgroveFeedbackKit::shared().getReportCategories(
      [&](std::optional<OrbisgroveReportCategoriesList> categories, std::shared_ptr<const platform::Error> error) {
        answer.categories = std::move(categories);
        answer.error = std::move(error);
        answered = true;
      });
  answer.fromCache = answered;
  waitFor(answered);
  return answer;
}

std::optional<std::int64_t> cachedListAge() {
  // Reading the cache again would log its path a second time; keep the console quiet.
  platform::setConsoleSink([](std::string_view) {});
  const auto entry = loadReportCategories();
  platform::setConsoleSink(nullptr);
  if (!entry) return std::nullopt;
  return entry->age;
}

SubmissionAnswer submit(const OrbisgroveSaveUserDataOptions& options) {
  SubmissionAnswer answer;
  bool answered = false;
  OrbisgroveSaveUserDataAPIManager::shared().saveUserData(
      options, [&](std::shared_ptr<OrbisgroveUserDataInfo> record, std::shared_ptr<const platform::Error> error) {
        answer.record = std::move(record);
        answer.error = std::move(error);
        answered = true;
      });
  waitFor(answered);
  return answer;
}

}  // namespace orbisgrove::tool
