// One report category of the service's two-level tree: identifier, display
// name, parent's identifier and the service's `created` number.
#pragma once

#include <orbisgrove/Export.hpp>
#include <orbisgrove/platform/JSONCoding.hpp>
#include <orbisgrove/platform/Number.hpp>

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orbisgrove {

/// A report category record. Records are shared (`std::shared_ptr`) between
/// the kit and the host, compared by identity, and created only by decoding.
/// Every field may be absent; the empty text is present. No lock: a host that
/// shares a record between threads synchronises its accesses itself.
class ORBISGROVE_EXPORT OrbisgroveReportCategories {
 public:
  /// Decodes a record from a JSON object (`init(from:)`): "reportId",
  /// "reportName", "parentId" (string or null) and "created" (an integer in
  /// the signed 64-bit range, or null); a missing key reads as absent, other
  /// keys are ignored. Throws platform::CodingError, with the decoder's error.
  explicit OrbisgroveReportCategories(const platform::Decoder& decoder);
  virtual ~OrbisgroveReportCategories() = default;
  OrbisgroveReportCategories(const OrbisgroveReportCategories&) = delete;
  OrbisgroveReportCategories& operator=(const OrbisgroveReportCategories&) = delete;

  /// Writes the record as one JSON object with all four keys, absent fields as
  /// null; `created` as an integer when its value is exactly a signed 64-bit
  /// integer, else null (`encode(to:)`). Throws platform::CodingError.
  virtual void encode(platform::Encoder& encoder) const;

  /// The category's identifier ("reportId"), used to name it in a submission.
  ///@{
  [[nodiscard]] virtual const std::optional<std::string>& reportId() const { return reportId_; }
  virtual void setReportId(std::optional<std::string> reportId) { reportId_ = std::move(reportId); }
  ///@}
  /// The name to show the user ("reportName").
  ///@{
  [[nodiscard]] virtual const std::optional<std::string>& reportName() const { return reportName_; }
  virtual void setReportName(std::optional<std::string> reportName) { reportName_ = std::move(reportName); }
  ///@}
  /// The parent category's identifier ("parentId"), as the service sent it.
  ///@{
  [[nodiscard]] virtual const std::optional<std::string>& parentId() const { return parentId_; }
  virtual void setParentId(std::optional<std::string> parentId) { parentId_ = std::move(parentId); }
  ///@}
  /// The service's "created" number, kept as it came.
  ///@{
  [[nodiscard]] virtual const std::shared_ptr<const platform::Number>& created() const { return created_; }
  virtual void setCreated(std::shared_ptr<const platform::Number> created) { created_ = std::move(created); }
  ///@}

  /// Identity-based; the same for the record's whole life.
  [[nodiscard]] std::size_t hash() const noexcept;

 private:
  std::optional<std::string> reportId_;
  std::optional<std::string> reportName_;
  std::optional<std::string> parentId_;
  std::shared_ptr<const platform::Number> created_;
};

/// A list of category records, in the service's order.
using OrbisgroveReportCategoriesList = std::vector<std::shared_ptr<OrbisgroveReportCategories>>;

}  // namespace orbisgrove
