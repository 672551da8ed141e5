#include "CategoryTree.hpp"

#include <algorithm>
#include <initializer_list>
#include <utility>

namespace orbisgrove::tools {
namespace {

struct Branch {
  const char* name;
  std::initializer_list<const char*> children;
};

// Identifiers follow the scheme the kit sees from the real service: small
// numbers for the top level and parent * 100 + n below, all as text.
std::vector<ReferenceCategory> buildTree() {
  const std::initializer_list<Branch> branches = {
      {"Road closed or blocked",
       {"Road closed permanently", "Temporary closure or roadworks", "Blocked by barrier or gate",
        "Bridge or tunnel closed"}},
      {"Wrong or missing street name", {"Street name is wrong", "Street name is missing", "Street name misspelled"}},
      {"Wrong address",
       {"House number in the wrong place", "House number missing", "Wrong postcode",
        "Address leads to the wrong building"}},
      {"Place missing",
       {"Shop or business missing", "Restaurant or cafe missing", "Public building missing", "Landmark missing"}},
      {"Place closed or moved", {"Closed for good", "Moved to a new address", "Opening hours are wrong"}},
      {"Wrong speed limit", {"Speed limit is wrong", "Speed limit is missing", "Limit depends on time or weather"}},
      {"Traffic signs", {"Sign missing", "Sign shown but not there", "Stop or give-way sign wrong"}},
      {"Turn restrictions",
       {"Forbidden turn suggested", "Allowed turn avoided", "Wrong one-way direction", "U-turn rule wrong"}},
      {"Public transport", {"Stop missing or misplaced", "Line or route wrong", "Station entrance wrong"}},
      {"Walking and cycling paths",
       {"Footpath missing", "Cycle lane missing", "Path cannot be used", "Steps or barrier not shown",
        "Crossing missing"}},
      {"Map display",
       {"Building outline wrong", "Road drawn in the wrong place", "Water or park area wrong",
        "Labels overlap or cannot be read"}},
      {"Search results", {"Place not found", "Wrong result shown first", "Result points to the wrong location"}},
  };

  // 2023-02-01 00:00:00 UTC; each branch was added a day after the one
  // before and its subcategories ten minutes apart.
  constexpr std::int64_t firstCreated = 1675209600;
  constexpr std::int64_t day = 86400;
  constexpr std::int64_t tenMinutes = 600;

  std::vector<ReferenceCategory> tree;
  int parentNumber = 0;
  for (const Branch& branch : branches) {
    ++parentNumber;
    const std::string parentId = std::to_string(parentNumber);
    const std::int64_t parentCreated = firstCreated + (parentNumber - 1) * day;
    tree.push_back({parentId, branch.name, "0", parentCreated});
    int childNumber = 0;
    for (const char* child : branch.children) {
      ++childNumber;
      tree.push_back({std::to_string(parentNumber * 100 + childNumber), child, parentId,
                      parentCreated + childNumber * tenMinutes});
    }
  }
  return tree;
}

}  // namespace

const std::vector<ReferenceCategory>& referenceCategories() {
  static const std::vector<ReferenceCategory> tree = buildTree();
  return tree;
}

const ReferenceCategory* findReferenceCategory(std::string_view reportId) {
  const auto& tree = referenceCategories();
  const auto found =
      std::find_if(tree.begin(), tree.end(), [&](const ReferenceCategory& c) { return c.reportId == reportId; });
  return found == tree.end() ? nullptr : &*found;
}

}  // namespace orbisgrove::tools
