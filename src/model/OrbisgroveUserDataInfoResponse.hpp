// The save reply of the service: its status text and the created record.
#pragma once

#include <orbisgrove/model/OrbisgroveUserDataInfo.hpp>
#include <orbisgrove/platform/JSONCoding.hpp>

#include <memory>
#include <optional>
#include <string>

namespace orbisgrove {

/// {"response": text, "data": {user data}}; both keys may be missing or null.
/// "data" holds one object, never an array.
class OrbisgroveUserDataInfoResponse {
 public:
  explicit OrbisgroveUserDataInfoResponse(const platform::Decoder& decoder);
  /// Writes only the present fields.
  void encode(platform::Encoder& encoder) const;

  [[nodiscard]] const std::optional<std::string>& response() const noexcept { return response_; }
  /// Null when the reply has no record.
  [[nodiscard]] const std::shared_ptr<OrbisgroveUserDataInfo>& dataInfo() const noexcept { return dataInfo_; }

 private:
  std::optional<std::string> response_;
  std::shared_ptr<OrbisgroveUserDataInfo> dataInfo_;
};

}  // namespace orbisgrove
