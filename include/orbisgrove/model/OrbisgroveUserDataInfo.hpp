// The record the service created for one submitted report.
#pragma once

#include <orbisgrove/Export.hpp>
#include <orbisgrove/platform/JSONCoding.hpp>
#include <orbisgrove/platform/Number.hpp>

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

namespace orbisgrove {

/// The service's record of a saved report, passed through as the service sent
/// it. Shared (`std::shared_ptr`), compared by identity, created only by
/// decoding. Every field may be absent; the empty text is present. No lock.
class ORBISGROVE_EXPORT OrbisgroveUserDataInfo {
 public:
  /// Decodes a record from a JSON object (`init(from:)`): "dataCount",
  /// "exist", "listId" (integers in the signed 64-bit range, or null) and
  /// "name", "id", "time", "url" (strings or null); a missing key reads as
  /// absent, other keys are ignored. Throws platform::CodingError.
  explicit OrbisgroveUserDataInfo(const platform::Decoder& decoder);
  virtual ~OrbisgroveUserDataInfo() = default;
  OrbisgroveUserDataInfo(const OrbisgroveUserDataInfo&) = delete;
  OrbisgroveUserDataInfo& operator=(const OrbisgroveUserDataInfo&) = delete;

  /// Writes the record as one JSON object with all seven keys, absent fields
  /// as null; a number field as an integer when its value is exactly a signed
  /// 64-bit integer, else null (`encode(to:)`). Throws platform::CodingError.
  virtual void encode(platform::Encoder& encoder) const;

  /// The service's "dataCount" number.
  ///@{
  [[nodiscard]] virtual const std::shared_ptr<const platform::Number>& dataCount() const { return dataCount_; }
  virtual void setDataCount(std::shared_ptr<const platform::Number> dataCount) { dataCount_ = std::move(dataCount); }
  ///@}
  /// The service's "name" text.
  ///@{
  [[nodiscard]] virtual const std::optional<std::string>& name() const { return name_; }
  virtual void setName(std::optional<std::string> name) { name_ = std::move(name); }
  ///@}
  /// The service's "exist" number.
  ///@{
  [[nodiscard]] virtual const std::shared_ptr<const platform::Number>& exist() const { return exist_; }
  virtual void setExist(std::shared_ptr<const platform::Number> exist) { exist_ = std::move(exist); }
  ///@}
  /// The saved report's identifier ("id").
  ///@{
  [[nodiscard]] virtual const std::optional<std::string>& id() const { return id_; }
  virtual void setId(std::optional<std::string> id) { id_ = std::move(id); }
  ///@}
  /// The service's "listId" number.
  ///@{
  [[nodiscard]] virtual const std::shared_ptr<const platform::Number>& listId() const { return listId_; }
  virtual void setListId(std::shared_ptr<const platform::Number> listId) { listId_ = std::move(listId); }
  ///@}
  /// When the service saved the report ("time"), as the service wrote it.
  ///@{
  [[nodiscard]] virtual const std::optional<std::string>& time() const { return time_; }
  virtual void setTime(std::optional<std::string> time) { time_ = std::move(time); }
  ///@}
  /// The service's "url" text.
  ///@{
  [[nodiscard]] virtual const std::optional<std::string>& url() const { return url_; }
  virtual void setUrl(std::optional<std::string> url) { url_ = std::move(url); }
  ///@}

  /// Identity-based; the same for the record's whole life.
  [[nodiscard]] std::size_t hash() const noexcept;

 private:
  std::shared_ptr<const platform::Number> dataCount_;
  std::optional<std::string> name_;
  std::shared_ptr<const platform::Number> exist_;
  std::optional<std::string> id_;
  std::shared_ptr<const platform::Number> listId_;
  std::optional<std::string> time_;
  std::optional<std::string> url_;
};

}  // namespace orbisgrove
