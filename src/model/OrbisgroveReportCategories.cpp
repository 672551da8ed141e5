#include <orbisgrove/model/OrbisgroveReportCategories.hpp>

#include "model/NumberCoding.hpp"
#include "model/SharedRecordList.hpp"

#include <functional>

namespace orbisgrove {

namespace {

// Boxed where the list being decoded keeps its records, if one is.
std::shared_ptr<const platform::Number> boxed(std::optional<std::int64_t> value) {
  if (!value) return nullptr;
  return detail::makeShared<const platform::Number>(*value);
}

}  // namespace

// Each field is made in place from its member, not moved into the record.
OrbisgroveReportCategories::OrbisgroveReportCategories(const platform::Decoder& decoder)
    : reportId_(decoder.container().decodeStringIfPresent("reportId")),
      reportName_(decoder.container().decodeStringIfPresent("reportName")),
      parentId_(decoder.container().decodeStringIfPresent("parentId")),
      created_(boxed(decoder.container().decodeIfPresent<std::int64_t>("created"))) {}

void OrbisgroveReportCategories::encode(platform::Encoder& encoder) const {
  platform::KeyedEncodingContainer container = encoder.container();
  container.encode("reportId", reportId());
  container.encode("reportName", reportName());
  container.encode("parentId", parentId());
  container.encode("created", exactInt64(created()));
}

std::size_t OrbisgroveReportCategories::hash() const noexcept { return std::hash<const void*>{}(this); }

}  // namespace orbisgrove
