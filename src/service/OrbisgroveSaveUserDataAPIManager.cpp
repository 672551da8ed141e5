#include <orbisgrove/service/OrbisgroveSaveUserDataAPIManager.hpp>

#include <orbisgrove/platform/JSONCoding.hpp>

#include <utility>

#include "model/OrbisgroveUserDataInfoResponse.hpp"
#include "platform/core/ApplicationIdentity.hpp"
#include "service/SaveUserDataForm.hpp"
#include "service/ServiceEndpoint.hpp"

namespace orbisgrove {

OrbisgroveSaveUserDataAPIManager& OrbisgroveSaveUserDataAPIManager::shared() {
  static auto* manager = new OrbisgroveSaveUserDataAPIManager(std::nullopt);  // never destroyed
  return *manager;
}

OrbisgroveSaveUserDataAPIManager::OrbisgroveSaveUserDataAPIManager(const std::optional<std::string>& host)
    : apiEndpoint_(std::make_shared<const platform::URL>(serviceEndpoint(host))) {}

OrbisgroveSaveUserDataAPIManager::~OrbisgroveSaveUserDataAPIManager() = default;

platform::URL OrbisgroveSaveUserDataAPIManager::apiEndpoint() const { return *apiEndpoint_.load(); }

void OrbisgroveSaveUserDataAPIManager::setApiEndpoint(platform::URL apiEndpoint) {
  apiEndpoint_.store(std::make_shared<const platform::URL>(std::move(apiEndpoint)));
}

platform::URL OrbisgroveSaveUserDataAPIManager::urlForReportCategories() const { return serviceURL(apiEndpoint()); }

std::shared_ptr<platform::DataTask> OrbisgroveSaveUserDataAPIManager::saveUserData(
    const OrbisgroveSaveUserDataOptions& options, CompletionHandler completion) {
  // A caller that wants no answer still gets a running request, not a crash later.
  if (!completion) completion = [](std::shared_ptr<OrbisgroveUserDataInfo>, std::shared_ptr<const platform::Error>) {};
  auto onSuccess = [completion](const std::string& body) {
    std::shared_ptr<OrbisgroveUserDataInfo> dataInfo;
    try {
      dataInfo = platform::JSONDecoder().decode<OrbisgroveUserDataInfoResponse>(body).dataInfo();
    } catch (const platform::CodingError& failure) {
      completion(nullptr, failure.error());
      return;
    }
    completion(std::move(dataInfo), nullptr);
  };
  auto onError = [completion](std::shared_ptr<const platform::Error> error) { completion(nullptr, std::move(error)); };
  auto task = dataTaskWithURL(urlForReportCategories(), options, std::move(onSuccess), std::move(onError));
  task->resume();
  return task;
}

std::shared_ptr<platform::DataTask> OrbisgroveSaveUserDataAPIManager::dataTaskWithURL(
    const platform::URL& url, const OrbisgroveSaveUserDataOptions& options,
    std::function<void(std::string body)> completionHandler,
    std::function<void(std::shared_ptr<const platform::Error> error)> errorHandler) {
  // Everything the request needs is read here, on the caller's thread.
  std::string body = saveUserDataFormBody(options, platform::mainBundleIdentifier());
  // A submission reaches the service at most once: the transport must fail
  // rather than send it again.
  return makeServiceDataTask(url, std::move(body), std::move(completionHandler), std::move(errorHandler),
                             ServiceResend::never);
}

}  // namespace orbisgrove
