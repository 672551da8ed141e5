// The client of the service's categories operation.
#pragma once

#include <orbisgrove/model/OrbisgroveReportCategories.hpp>
#include <orbisgrove/platform/DataTask.hpp>
#include <orbisgrove/platform/Error.hpp>
#include <orbisgrove/platform/URL.hpp>
#include <orbisgrove/platform/URLResponse.hpp>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "service/ServiceEndpoint.hpp"

namespace orbisgrove {

/// Fetches the list of report categories with one HTTPS POST (operation 712)
/// and hands the decoded list to its caller on the main queue. Keeps nothing
/// between calls; any number of requests may run at once.
class OrbisgroveReportCategoriesAPIManager {
 public:
  /// Receives the list (absent when the reply has none) and no error, or no
  /// list and an error value.
  using CompletionHandler = std::function<void(std::optional<OrbisgroveReportCategoriesList> categories,
                                               std::shared_ptr<const platform::Error> error)>;

  /// The process-wide client of the default service host; created on first
  /// use, thread-safely, never destroyed.
  static OrbisgroveReportCategoriesAPIManager& shared();
  static OrbisgroveReportCategoriesAPIManager& sharedManager() { return shared(); }

  /// `initWithHost:`: https://<host>, or the default service host when absent.
  /// Throws std::invalid_argument for text from which no https URL can be
  /// formed (empty, white space, a scheme, a path, "@").
  explicit OrbisgroveReportCategoriesAPIManager(const std::optional<std::string>& host);
  virtual ~OrbisgroveReportCategoriesAPIManager() = default;
  OrbisgroveReportCategoriesAPIManager(const OrbisgroveReportCategoriesAPIManager&) = delete;
  OrbisgroveReportCategoriesAPIManager& operator=(const OrbisgroveReportCategoriesAPIManager&) = delete;

  /// Base of every request: scheme and host (and port), no path.
  [[nodiscard]] virtual platform::URL apiEndpoint() const;
  /// Safe while requests run; later requests use the new base.
  virtual void setApiEndpoint(platform::URL apiEndpoint);

  /// https://<host>/explore-api/v1.2/
  [[nodiscard]] virtual platform::URL urlForReportCategories() const;

  /// Starts one request and returns its running task. `completion` runs
  /// exactly once, on the main queue, never before this call returns:
  /// with the decoded list, or with an error value (the service's, the JSON
  /// coder's, or the transport error's). Cancelling the task makes it end
  /// with the cancelled transport error (code -999), still exactly once.
  virtual std::shared_ptr<platform::DataTask> getReportCategories(CompletionHandler completion);

  /// The error value a failed reply reaches the host as. Reads only the
  /// "message" text of `replyFields`, an HTTP reply's status and rate-limit
  /// headers, and the underlying (transport) error, whose domain, code and
  /// entries it takes over. Always a new value; never fails.
  static std::shared_ptr<const platform::Error> descriptiveError(
      const platform::UserInfo& replyFields, const std::shared_ptr<const platform::URLResponse>& response,
      const std::shared_ptr<const platform::Error>& underlyingError);

 private:
  virtual std::shared_ptr<platform::DataTask> dataTaskWithURL(const platform::URL& url, ServiceReplyHandler handler);

  std::atomic<std::shared_ptr<const platform::URL>> apiEndpoint_;
};

}  // namespace orbisgrove
