// The kit's asynchronous calls made synchronous for the tool: each waits on
// the main queue, as a host's main thread would.
#pragma once

#include <orbisgrove/OrbisgroveFeedbackKit.hpp>

#include <memory>
#include <optional>
#include <string>

namespace orbisgrove::tool {

/// Points both shared clients at `host` ("name[:port]"); throws UsageError
/// for text that is no host.
void useServiceHost(const std::string& host);

struct CategoriesAnswer {
  std::optional<OrbisgroveReportCategoriesList> categories;
  std::shared_ptr<const platform::Error> error;
  /// Answered before getReportCategories returned: the device cache.
  bool fromCache = false;
};
/// Asks the shared facade and waits for its one answer.
CategoriesAnswer fetchCategories();

/// Age in whole days of the list in the device cache, if there is one.
std::optional<std::int64_t> cachedListAge();

struct SubmissionAnswer {
  std::shared_ptr<OrbisgroveUserDataInfo> record;
  std::shared_ptr<const platform::Error> error;
};
/// Submits through the shared save client and waits for its one answer.
SubmissionAnswer submit(const OrbisgroveSaveUserDataOptions& options);

}  // namespace orbisgrove::tool
