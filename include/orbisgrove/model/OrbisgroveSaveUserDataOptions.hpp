// What a host fills in to submit one piece of user feedback.
#pragma once

#include <orbisgrove/Export.hpp>
#include <orbisgrove/model/OrbisgroveReportCategories.hpp>
#include <orbisgrove/platform/Location.hpp>

#include <concepts>
#include <memory>
#include <optional>
#include <string>
#include <utility>

namespace orbisgrove {

/// One report: where on the map, which category and sub-category, what the
/// user wrote, and optionally which module of the host raises it. Nothing is
/// checked or transformed. The two categories are the very records passed in
/// (shared, never copied). No lock: a record must not change on another thread
/// while a submission reads it.
class ORBISGROVE_EXPORT OrbisgroveSaveUserDataOptions {
 public:
  /// A category record of the list the kit delivered, shared with it.
  using Category = std::shared_ptr<OrbisgroveReportCategories>;

  /// The designated initializer, `init(coordinate:parentCategory:childCategory:description:moduleId:)`.
  OrbisgroveSaveUserDataOptions(platform::Coordinate coordinate, Category parentCategory, Category childCategory,
                                std::string description, std::optional<std::string> moduleId = std::nullopt);
  /// `init(location:parentCategory:childCategory:description:moduleId:)`: reads
  /// the location's coordinate and delegates to the designated initializer.
  /// Only the coordinate is kept. A template only so that a braced pair such
  /// as `{52.5, 13.4}` means a coordinate, not a location.
  template <class AnyLocation>
  requires std::derived_from<AnyLocation, platform::Location> OrbisgroveSaveUserDataOptions(
      const AnyLocation& location, Category parentCategory, Category childCategory, std::string description,
      std::optional<std::string> moduleId = std::nullopt)
      : OrbisgroveSaveUserDataOptions(static_cast<const platform::Location&>(location).coordinate(),
                                      std::move(parentCategory), std::move(childCategory), std::move(description),
                                      std::move(moduleId)) {}
  virtual ~OrbisgroveSaveUserDataOptions() = default;
  OrbisgroveSaveUserDataOptions(const OrbisgroveSaveUserDataOptions&) = delete;
  OrbisgroveSaveUserDataOptions& operator=(const OrbisgroveSaveUserDataOptions&) = delete;

  /// `initWithCoordinate:...` in shared form. `Options` may be a type derived
  /// from this one; its coordinate constructor is its designated initializer.
  template <class Options = OrbisgroveSaveUserDataOptions>
  static std::shared_ptr<Options> initWithCoordinate(platform::Coordinate coordinate, Category parentCategory,
                                                     Category childCategory, std::string description,
                                                     std::optional<std::string> moduleId = std::nullopt) {
    return std::make_shared<Options>(coordinate, std::move(parentCategory), std::move(childCategory),
                                     std::move(description), std::move(moduleId));
  }
  /// `initWithLocation:...` in shared form: reads the location's coordinate
  /// and goes through `Options`'s designated initializer, so a derived type
  /// that replaces it is honoured.
  template <class Options = OrbisgroveSaveUserDataOptions>
  static std::shared_ptr<Options> initWithLocation(const platform::Location& location, Category parentCategory,
                                                   Category childCategory, std::string description,
                                                   std::optional<std::string> moduleId = std::nullopt) {
    return initWithCoordinate<Options>(location.coordinate(), std::move(parentCategory), std::move(childCategory),
                                       std::move(description), std::move(moduleId));
  }

  /// Where on the map the problem is.
  ///@{
  [[nodiscard]] virtual platform::Coordinate coordinate() const { return coordinate_; }
  virtual void setCoordinate(platform::Coordinate coordinate) { coordinate_ = coordinate; }
  ///@}
  /// The user's text (the initializers' `description` argument).
  ///@{
  [[nodiscard]] virtual const std::string& feedbackDescription() const { return feedbackDescription_; }
  virtual void setFeedbackDescription(std::string feedbackDescription) {
    feedbackDescription_ = std::move(feedbackDescription);
  }
  ///@}
  /// The top-level category the report is filed under.
  ///@{
  [[nodiscard]] virtual const Category& parentCategory() const { return parentCategory_; }
  virtual void setParentCategory(Category parentCategory) { parentCategory_ = std::move(parentCategory); }
  ///@}
  /// The sub-category of parentCategory() the report is filed under.
  ///@{
  [[nodiscard]] virtual const Category& childCategory() const { return childCategory_; }
  virtual void setChildCategory(Category childCategory) { childCategory_ = std::move(childCategory); }
  ///@}
  /// Which module of the host raises the report; absent when none is named.
  ///@{
  [[nodiscard]] virtual const std::optional<std::string>& moduleId() const { return moduleId_; }
  virtual void setModuleId(std::optional<std::string> moduleId) { moduleId_ = std::move(moduleId); }
  ///@}

 private:
  platform::Coordinate coordinate_;
  std::string feedbackDescription_;
  Category parentCategory_;
  Category childCategory_;
  std::optional<std::string> moduleId_;
};

}  // namespace orbisgrove
