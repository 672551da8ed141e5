// The client that submits one piece of user feedback.
#pragma once

#include <orbisgrove/Export.hpp>
#include <orbisgrove/model/OrbisgroveSaveUserDataOptions.hpp>
#include <orbisgrove/model/OrbisgroveUserDataInfo.hpp>
#include <orbisgrove/platform/DataTask.hpp>
#include <orbisgrove/platform/Error.hpp>
#include <orbisgrove/platform/URL.hpp>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace orbisgrove {

/// Submits a report with one HTTPS POST (operation 705) and hands the record
/// the service created to its caller on the main queue. Keeps nothing between
/// calls; any number of submissions may run at once. A submission is never
/// retried.
class ORBISGROVE_EXPORT OrbisgroveSaveUserDataAPIManager {
 public:
  /// Receives the created record (null when the reply has none) and no error,
  /// or a null record and an error value.
  using CompletionHandler = std::function<void(std::shared_ptr<OrbisgroveUserDataInfo> dataInfo,
                                               std::shared_ptr<const platform::Error> error)>;

  /// The process-wide client of the default service host; created on first
  /// use, thread-safely, never destroyed.
  static OrbisgroveSaveUserDataAPIManager& shared();
  /// The same instance as shared(), under its exported name.
  static OrbisgroveSaveUserDataAPIManager& sharedManager() { return shared(); }

  /// `initWithHost:`: `https://<host>`, or the default service host when absent.
  /// `host` is a host name, IPv4 address or bracketed IPv6 address with an
  /// optional ":port". Throws std::invalid_argument for text from which no
  /// https URL can be formed (empty, white space, a scheme, a path, "@").
  explicit OrbisgroveSaveUserDataAPIManager(const std::optional<std::string>& host);
  virtual ~OrbisgroveSaveUserDataAPIManager();
  OrbisgroveSaveUserDataAPIManager(const OrbisgroveSaveUserDataAPIManager&) = delete;
  OrbisgroveSaveUserDataAPIManager& operator=(const OrbisgroveSaveUserDataAPIManager&) = delete;

  /// Base of every request: scheme and host (and port), no path.
  [[nodiscard]] virtual platform::URL apiEndpoint() const;
  /// Safe while requests run; later requests use the new base.
  virtual void setApiEndpoint(platform::URL apiEndpoint);

  /// `https://<host>/explore-api/v1.2/`, where submissions go (the same URL as
  /// the categories operation's).
  [[nodiscard]] virtual platform::URL urlForReportCategories() const;

  /// Submits `options` and returns the running task. The options record and
  /// the bundle identifier are read on the calling thread before this call
  /// returns; later changes do not reach the request. `completion` runs
  /// exactly once, on the main queue, never before this call returns: with the
  /// service's record, or with an error value (the service's, the JSON
  /// coder's, or the transport error's). Cancelling the task makes it end with
  /// the cancelled transport error (code -999), still exactly once.
  virtual std::shared_ptr<platform::DataTask> saveUserData(const OrbisgroveSaveUserDataOptions& options,
                                                           CompletionHandler completion);
  /// `saveUserDataWithOptions:completionHandler:`.
  std::shared_ptr<platform::DataTask> saveUserDataWithOptions(const OrbisgroveSaveUserDataOptions& options,
                                                              CompletionHandler completionHandler) {
    return saveUserData(options, std::move(completionHandler));
  }

 private:
  virtual std::shared_ptr<platform::DataTask> dataTaskWithURL(
      const platform::URL& url, const OrbisgroveSaveUserDataOptions& options,
      std::function<void(std::string body)> completionHandler,
      std::function<void(std::shared_ptr<const platform::Error> error)> errorHandler);

  std::atomic<std::shared_ptr<const platform::URL>> apiEndpoint_;
};

}  // namespace orbisgrove
