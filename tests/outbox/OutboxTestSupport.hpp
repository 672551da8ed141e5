// What the outbox tests share: a report to store and a private data directory.
#pragma once

#include <orbisgrove/OrbisgroveFeedbackKit.hpp>

#include <cstdlib>
#include <string>

#include "model/OrbisgroveReportCategoriesResponse.hpp"

namespace orbisgrove::testing {

inline std::shared_ptr<OrbisgroveSaveUserDataOptions> reportWith(const std::string& description) {
  static const auto categories = *platform::JSONDecoder()
                                      .decode<OrbisgroveReportCategoriesResponse>(
                                          R"({"data":[{"reportId":"1","reportName":"Road","parentId":"0","created":1},)"
                                          R"({"reportId":"101","reportName":"Closed","parentId":"1","created":1}]})")
                                      .categories();
  return std::make_shared<OrbisgroveSaveUserDataOptions>(platform::Coordinate{52.5, 13.4}, categories[0], categories[1],
                                                         description);
}

/// A fresh private directory under $TMPDIR (or /tmp).
inline std::string freshDirectory() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/outbox-test-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) std::abort();
  return pattern;
}

}  // namespace orbisgrove::testing
