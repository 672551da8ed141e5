#include "service/OrbisgroveReportCategoriesAPIManager.hpp"

#include <orbisgrove/platform/JSONCoding.hpp>

#include <utility>

#include "model/OrbisgroveReportCategoriesResponse.hpp"
#include "service/ServiceClient.hpp"

namespace orbisgrove {
namespace {

// The body of the categories request never varies.
const std::string& categoriesFormBody() {
  static const std::string body = serviceFormPrefix("712") + "&val=401*401*401";
  return body;
}

std::optional<OrbisgroveReportCategoriesList> reportCategories(const platform::Decoder& reply) {
  return OrbisgroveReportCategoriesResponse(reply).categories();
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
  // Decoded where the reply arrived, while it is still in that thread's cache.
  auto task = dataTaskWithURL(urlForReportCategories(),
                              serviceReplyHandler<DecodeOn::deliveryThread>(std::move(completion), reportCategories));
  task->resume();
  return task;
}

std::shared_ptr<platform::DataTask> OrbisgroveReportCategoriesAPIManager::dataTaskWithURL(const platform::URL& url,
                                                                                          ServiceReplyHandler handler) {
  // Asking for the list changes nothing on the service: a resend is harmless.
  return makeServiceDataTask(url, categoriesFormBody(), std::move(handler), ServiceResend::allowed);
}

}  // namespace orbisgrove
