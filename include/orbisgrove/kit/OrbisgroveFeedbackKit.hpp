// The kit's entry object for report categories.
#pragma once

#include <orbisgrove/Export.hpp>
#include <orbisgrove/model/OrbisgroveReportCategories.hpp>
#include <orbisgrove/platform/Error.hpp>

#include <functional>
#include <memory>
#include <optional>

namespace orbisgrove {

/// Delivers the list of report categories: at once from the copy kept on the
/// device while it is younger than 8 days, otherwise fresh from the service
/// (and then kept). Holds no state: every instance shares the one cache file.
class ORBISGROVE_EXPORT OrbisgroveFeedbackKit {
 public:
  /// Receives the list (possibly empty) and no error, no list and an error
  /// value, or neither (the service answered without a list).
  using CategoriesCompletionHandler = std::function<void(std::optional<OrbisgroveReportCategoriesList> categories,
                                                         std::shared_ptr<const platform::Error> error)>;

  /// The process-wide instance; created on first use, never destroyed.
  static OrbisgroveFeedbackKit& shared();
  /// The same instance as shared(), under its exported name.
  static OrbisgroveFeedbackKit& sharedGeocoder() { return shared(); }

  OrbisgroveFeedbackKit();
  /// Waits for a save that a reply is making through this instance on
  /// another thread; replies that arrive later store their list themselves.
  virtual ~OrbisgroveFeedbackKit();
  OrbisgroveFeedbackKit(const OrbisgroveFeedbackKit&) = delete;
  OrbisgroveFeedbackKit& operator=(const OrbisgroveFeedbackKit&) = delete;

  /// Callable on any thread. Reads the device cache on the calling thread
  /// (and writes its path to the console). A usable list (non-empty, younger
  /// than 8 days) goes to `completion` on the calling thread before this call
  /// returns. Otherwise the service is asked and `completion` runs exactly
  /// once, later, on the main queue, after a received list has been stored.
  /// The request cannot be cancelled; a failure never falls back to a stale
  /// list.
  virtual void getReportCategories(CategoriesCompletionHandler completion);

 protected:
  /// Asks the service through the shared categories client; stores a
  /// received list, then passes the outcome on (on the main queue).
  virtual void getReportCategoriesFromServer(CategoriesCompletionHandler completion);
  /// Stores the list with the current time in the device cache; failures are
  /// not reported.
  virtual void saveReportCategories(const std::optional<OrbisgroveReportCategoriesList>& categories);
  /// Ends replies' use of this instance, waiting for a save in progress on
  /// another thread. The destructor calls it; a derived type that overrides
  /// saveReportCategories() calls it first in its own destructor, so that no
  /// reply runs the override while its members are being destroyed.
  void detachFromReplies() noexcept;

 private:
  // Shared with every reply of this instance, so that a reply that outlives
  // it (a host's own, short-lived facade) still stores the list and reaches
  // its handler without touching a destroyed object.
  struct Liveness;
  std::shared_ptr<Liveness> liveness_;
};

}  // namespace orbisgrove
