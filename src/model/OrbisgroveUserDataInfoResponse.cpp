#include "model/OrbisgroveUserDataInfoResponse.hpp"

namespace orbisgrove {

OrbisgroveUserDataInfoResponse::OrbisgroveUserDataInfoResponse(const platform::Decoder& decoder) {
  const platform::KeyedDecodingContainer container = decoder.container();
  response_ = container.decodeStringIfPresent("response");
  if (auto data = container.decodeIfPresent<std::shared_ptr<OrbisgroveUserDataInfo>>("data")) {
    dataInfo_ = std::move(*data);
  }
}

void OrbisgroveUserDataInfoResponse::encode(platform::Encoder& encoder) const {
  platform::KeyedEncodingContainer container = encoder.container();
  if (response_) container.encode("response", response_);
  if (dataInfo_) {
    platform::Encoder data = container.encoder("data");
    dataInfo_->encode(data);
  }
}

}  // namespace orbisgrove
