// Categories and a report the local test services accept, for the tests and
// their helper processes.
#pragma once

#include <orbisgrove/OrbisgroveFeedbackKit.hpp>

#include <memory>
#include <string>
#include <string_view>

namespace orbisgrove::testing {

inline std::shared_ptr<OrbisgroveReportCategories> category(std::string_view json) {
  return platform::JSONDecoder().decode<std::shared_ptr<OrbisgroveReportCategories>>(json);
}

inline std::shared_ptr<OrbisgroveSaveUserDataOptions> someReport(std::string description = "Road closed") {
  const auto categories = platform::JSONDecoder().decode<OrbisgroveReportCategoriesList>(
      R"([{"reportId":"1","reportName":"Road","parentId":"0"},{"reportId":"101","reportName":"Closed","parentId":"1"}])");
  return OrbisgroveSaveUserDataOptions::initWithCoordinate(platform::Coordinate{52.52, 13.405}, categories[0],
                                                           categories[1], std::move(description));
}

}  // namespace orbisgrove::testing
