#include <orbisgrove/kit/OrbisgroveFeedbackKit.hpp>

#include <mutex>
#include <utility>

#include "kit/ReportCategoryCache.hpp"
#include "service/OrbisgroveReportCategoriesAPIManager.hpp"

namespace orbisgrove {
namespace {

// A cached list of this many whole days or more is refetched.
constexpr std::int64_t kMaximumCacheAgeDays = 8;

}  // namespace

// A reply holds the lock while it saves through the instance, and the
// instance's end takes it, so neither the check nor the call can meet a
// destroyed object. Recursive: a save may destroy its own instance. The
// instance's reading of the cache file lives here too, so that a cache hit
// need not parse a file it read before.
struct OrbisgroveFeedbackKit::Liveness {
  std::recursive_mutex mutex;
  bool alive = true;
  ReportCategoryCache cache;
};

OrbisgroveFeedbackKit::OrbisgroveFeedbackKit() : liveness_(std::make_shared<Liveness>()) {}

OrbisgroveFeedbackKit::~OrbisgroveFeedbackKit() { detachFromReplies(); }

void OrbisgroveFeedbackKit::detachFromReplies() noexcept {
  const std::lock_guard lock(liveness_->mutex);
  liveness_->alive = false;
}

OrbisgroveFeedbackKit& OrbisgroveFeedbackKit::shared() {
  static auto* kit = new OrbisgroveFeedbackKit;  // never destroyed
  return *kit;
}

void OrbisgroveFeedbackKit::getReportCategories(CategoriesCompletionHandler completion) {
  if (!completion)
    completion = [](std::optional<OrbisgroveReportCategoriesList>, std::shared_ptr<const platform::Error>) {};
  auto entry = liveness_->cache.load();
  // An unknown age (the calendar could not count) or a negative one (the
  // clock was set back) still allows the cached list.
  const bool usable = entry && !(entry->age && *entry->age >= kMaximumCacheAgeDays) && !entry->categories.empty();
  if (usable) {
    completion(std::move(entry->categories), nullptr);
    return;
  }
  getReportCategoriesFromServer(
      [completion = std::move(completion)](std::optional<OrbisgroveReportCategoriesList> categories,
                                           std::shared_ptr<const platform::Error> error) {
        completion(std::move(categories), std::move(error));
      });
}

void OrbisgroveFeedbackKit::getReportCategoriesFromServer(CategoriesCompletionHandler completion) {
  // The task is not kept: the session owns it until its reply is handled.
  OrbisgroveReportCategoriesAPIManager::shared().getReportCategories(
      [this, liveness = liveness_, completion = std::move(completion)](
          std::optional<OrbisgroveReportCategoriesList> categories, std::shared_ptr<const platform::Error> error) {
        if (error) {
          completion(std::nullopt, std::move(error));
          return;
        }
        if (!categories) {
          completion(std::nullopt, nullptr);
          return;
        }
        {
          std::unique_lock lock(liveness->mutex);
          if (liveness->alive) {
            saveReportCategories(categories);
          } else {
            lock.unlock();
            storeReportCategories(categories);
          }
        }
        completion(std::move(categories), nullptr);
      });
}

void OrbisgroveFeedbackKit::saveReportCategories(const std::optional<OrbisgroveReportCategoriesList>& categories) {
  storeReportCategories(categories);
}

}  // namespace orbisgrove
