#include <orbisgrove/kit/ServiceHost.hpp>
#include <orbisgrove/service/OrbisgroveSaveUserDataAPIManager.hpp>

#include "service/OrbisgroveReportCategoriesAPIManager.hpp"
#include "service/ServiceEndpoint.hpp"

namespace orbisgrove {

void setServiceHost(const std::string& host) {
  // Formed first, so that unusable text leaves both clients as they were.
  const platform::URL endpoint = serviceEndpoint(host);
  OrbisgroveReportCategoriesAPIManager::shared().setApiEndpoint(endpoint);
  OrbisgroveSaveUserDataAPIManager::shared().setApiEndpoint(endpoint);
}

}  // namespace orbisgrove
