// The categories reply of the service: its status text and the list.
#pragma once

#include <orbisgrove/model/OrbisgroveReportCategories.hpp>
#include <orbisgrove/platform/JSONCoding.hpp>

#include <optional>
#include <string>

namespace orbisgrove {

/// {"response": text, "data": [category, ...]}; both keys may be missing or
/// null. One element that fails to decode fails the whole reply.
class OrbisgroveReportCategoriesResponse {
 public:
  explicit OrbisgroveReportCategoriesResponse(const platform::Decoder& decoder);
  /// Writes only the present fields.
  void encode(platform::Encoder& encoder) const;

  [[nodiscard]] const std::optional<std::string>& response() const noexcept { return response_; }
  [[nodiscard]] const std::optional<OrbisgroveReportCategoriesList>& categories() const& noexcept {
    return categories_;
  }
  [[nodiscard]] std::optional<OrbisgroveReportCategoriesList> categories() && noexcept {
    return std::move(categories_);
  }

 private:
  std::optional<std::string> response_;
  std::optional<OrbisgroveReportCategoriesList> categories_;
};

}  // namespace orbisgrove
