// The report categories that the reference service hands out for operation
// 712 and checks submissions against.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orbisgrove::tools {

struct ReferenceCategory {
  std::string reportId;
  std::string reportName;
  /// "0" for a top-level category, else the reportId of its parent.
  std::string parentId;
  /// Unix time in seconds.
  std::int64_t created = 0;

  [[nodiscard]] bool isTopLevel() const { return parentId == "0"; }
};

/// The whole two-level tree, each top-level category followed by its
/// subcategories. The same on every run, so tests and recorded replies agree.
const std::vector<ReferenceCategory>& referenceCategories();

/// The category with this reportId, or nullptr.
const ReferenceCategory* findReferenceCategory(std::string_view reportId);

}  // namespace orbisgrove::tools
