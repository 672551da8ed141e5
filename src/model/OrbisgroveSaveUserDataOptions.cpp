#include <orbisgrove/model/OrbisgroveSaveUserDataOptions.hpp>

namespace orbisgrove {

OrbisgroveSaveUserDataOptions::OrbisgroveSaveUserDataOptions(platform::Coordinate coordinate, Category parentCategory,
                                                             Category childCategory, std::string description,
                                                             std::optional<std::string> moduleId)
    : coordinate_(coordinate),
      feedbackDescription_(std::move(description)),
      parentCategory_(std::move(parentCategory)),
      childCategory_(std::move(childCategory)),
      moduleId_(std::move(moduleId)) {}

}  // namespace orbisgrove
