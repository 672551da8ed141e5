#include <orbisgrove/model/OrbisgroveReportCategories.hpp>

#include "model/NumberCoding.hpp"

#include <functional>

namespace orbisgrove {

OrbisgroveReportCategories::OrbisgroveReportCategories(const platform::Decoder& decoder) {
  const platform::KeyedDecodingContainer container = decoder.container();
  reportId_ = container.decodeStringIfPresent("reportId");
  reportName_ = container.decodeStringIfPresent("reportName");
  parentId_ = container.decodeStringIfPresent("parentId");
  created_ = container.decodeInt64IfPresent("created");
}

void OrbisgroveReportCategories::encode(platform::Encoder& encoder) const {
  platform::KeyedEncodingContainer container = encoder.container();
  container.encode("reportId", reportId());
  container.encode("reportName", reportName());
  container.encode("parentId", parentId());
  container.encode("created", exactInt64(created()));
}

std::size_t OrbisgroveReportCategories::hash() const noexcept { return std::hash<const void*>{}(this); }

}  // namespace orbisgrove
