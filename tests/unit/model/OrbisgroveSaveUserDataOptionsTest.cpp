// The options of a submission.
#include "RecordCoding.hpp"

namespace orbisgrove::testing {
namespace {

using Category = std::shared_ptr<OrbisgroveReportCategories>;

// A derived type that replaces the designated initializer sees records built
// from a location too.
class CountingOptions : public OrbisgroveSaveUserDataOptions {
 public:
  CountingOptions(platform::Coordinate coordinate, Category parent, Category child, std::string description,
                  std::optional<std::string> moduleId)
      : OrbisgroveSaveUserDataOptions(platform::Coordinate{coordinate.latitude, coordinate.longitude + 1}, parent,
                                      child, std::move(description), std::move(moduleId)) {}
};

TEST(OrbisgroveSaveUserDataOptionsTest, LocationInitializerGoesThroughTheDesignatedOne) {
  auto category = decode<Category>("{}");
  const auto options = OrbisgroveSaveUserDataOptions::initWithLocation<CountingOptions>(
      platform::Location(10, 20), category, category, "x", "module");
  EXPECT_DOUBLE_EQ(options->coordinate().latitude, 10);
  EXPECT_DOUBLE_EQ(options->coordinate().longitude, 21);
  EXPECT_EQ(options->moduleId(), "module");
}

}  // namespace
}  // namespace orbisgrove::testing
