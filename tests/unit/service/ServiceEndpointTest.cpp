// The service's endpoint from a host text: https, the host and the port only.
#include "TestPrelude.hpp"

#include <orbisgrove/service/OrbisgroveSaveUserDataAPIManager.hpp>

#include "service/OrbisgroveReportCategoriesAPIManager.hpp"

namespace orbisgrove::testing {
namespace {

TEST(ServiceEndpointTest, HostTextsThatFormAnHttpsURL) {
  EXPECT_EQ(OrbisgroveReportCategoriesAPIManager(std::string("[::1]:9")).urlForReportCategories().absoluteString(),
            "https://[::1]:9/explore-api/v1.2/");
  EXPECT_EQ(OrbisgroveSaveUserDataAPIManager(std::string("maps.example.org")).urlForReportCategories().absoluteString(),
            "https://maps.example.org/explore-api/v1.2/");
  for (const char* bad : {"", "https://maps.example.org", "maps.example.org/path", "maps.example.org:99999"}) {
    try {
      OrbisgroveSaveUserDataAPIManager client{std::string(bad)};
      ADD_FAILURE() << "accepted \"" << bad << '"';
    } catch (const std::invalid_argument& failure) {
      EXPECT_NE(std::string(failure.what()).find('"' + std::string(bad) + '"'), std::string::npos) << failure.what();
    }
  }
}

}  // namespace
}  // namespace orbisgrove::testing
