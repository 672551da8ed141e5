#include "service/OrbisgroveReportCategoriesAPIManager.hpp"

#include <orbisgrove/platform/JSONCoding.hpp>

#include <utility>

#include "model/OrbisgroveReportCategoriesResponse.hpp"

namespace orbisgrove {
namespace {

// The body of the categories request never varies.
const std::string& categoriesFormBody() {
  static const std::string body = serviceFormPrefix("712") + "&val=401*401*401";
  return body;
}

}  // namespace

OrbisgroveReportCategoriesAPIManager& OrbisgroveReportCategoriesAPIManager::shared() {
  static auto* manager = new OrbisgroveReportCategoriesAPIManager(std::nullopt);  // never destroyed
  return *manager;
}

OrbisgroveReportCategoriesAPIManager::OrbisgroveReportCategoriesAPIManager(const std::optional<std::string>& host)
    : apiEndpoint_(std::make_shared<const platform::URL>(serviceEndpoint(host))) {}

platform::URL OrbisgroveReportCategoriesAPIManager::apiEndpoint() const { return *apiEndpoint_.load(); }

void OrbisgroveReportCategoriesAPIManager::setApiEndpoint(platform::URL apiEndpoint) {
  apiEndpoint_.store(std::make_shared<const platform::URL>(std::move(apiEndpoint)));
}

platform::URL OrbisgroveReportCategoriesAPIManager::urlForReportCategories() const { return serviceURL(apiEndpoint()); }

std::shared_ptr<platform::DataTask> OrbisgroveReportCategoriesAPIManager::getReportCategories(
    CompletionHandler completion) {
  // A caller that wants no answer still gets a running request, not a crash later.
  if (!completion)
    completion = [](std::optional<OrbisgroveReportCategoriesList>, std::shared_ptr<const platform::Error>) {};
  auto onSuccess = [completion](const platform::JSONDocument& reply) -> std::function<void()> {
    std::optional<OrbisgroveReportCategoriesList> categories;
    try {
      categories = OrbisgroveReportCategoriesResponse(reply.root()).categories();
    } catch (const platform::CodingError& failure) {
      return [completion, error = failure.error()] { completion(std::nullopt, error); };
    }
    return [completion, categories = std::move(categories)]() mutable { completion(std::move(categories), nullptr); };
  };
  auto onError = [completion](std::shared_ptr<const platform::Error> error) {
    completion(std::nullopt, std::move(error));
  };
  auto task = dataTaskWithURL(urlForReportCategories(), std::move(onSuccess), std::move(onError));
  task->resume();
  return task;
}

std::shared_ptr<platform::DataTask> OrbisgroveReportCategoriesAPIManager::dataTaskWithURL(
    const platform::URL& url, ServiceDocumentHandler completionHandler, ServiceErrorHandler errorHandler) {
  // Asking for the list changes nothing on the service: a resend is harmless.
  return makeServiceDataTask(url, categoriesFormBody(), std::move(completionHandler), std::move(errorHandler),
                             ServiceResend::allowed);
}

}  // namespace orbisgrove
