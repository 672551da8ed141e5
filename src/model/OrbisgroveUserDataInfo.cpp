#include <orbisgrove/model/OrbisgroveUserDataInfo.hpp>

#include "model/NumberCoding.hpp"

#include <functional>

namespace orbisgrove {

OrbisgroveUserDataInfo::OrbisgroveUserDataInfo(const platform::Decoder& decoder) {
  const platform::KeyedDecodingContainer container = decoder.container();
  dataCount_ = container.decodeInt64IfPresent("dataCount");
  name_ = container.decodeStringIfPresent("name");
  exist_ = container.decodeInt64IfPresent("exist");
  id_ = container.decodeStringIfPresent("id");
  listId_ = container.decodeInt64IfPresent("listId");
  time_ = container.decodeStringIfPresent("time");
  url_ = container.decodeStringIfPresent("url");
}

void OrbisgroveUserDataInfo::encode(platform::Encoder& encoder) const {
  platform::KeyedEncodingContainer container = encoder.container();
  container.encode("dataCount", exactInt64(dataCount()));
  container.encode("name", name());
  container.encode("exist", exactInt64(exist()));
  container.encode("id", id());
  container.encode("listId", exactInt64(listId()));
  container.encode("time", time());
  container.encode("url", url());
}

std::size_t OrbisgroveUserDataInfo::hash() const noexcept { return std::hash<const void*>{}(this); }

}  // namespace orbisgrove
