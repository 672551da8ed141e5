#include "model/OrbisgroveReportCategoriesResponse.hpp"

#include "model/SharedRecordList.hpp"

namespace orbisgrove {

OrbisgroveReportCategoriesResponse::OrbisgroveReportCategoriesResponse(const platform::Decoder& decoder) {
  const platform::KeyedDecodingContainer container = decoder.container();
  response_ = container.decodeStringIfPresent("response");
  // Each record makes one shared number, its "created".
  categories_ = detail::decodeSharedRecordsIfPresent<OrbisgroveReportCategories>(
      container, "data", detail::RecordBlock::roomFor(sizeof(platform::Number)));
}

void OrbisgroveReportCategoriesResponse::encode(platform::Encoder& encoder) const {
  platform::KeyedEncodingContainer container = encoder.container();
  if (response_) container.encode("response", response_);
  if (categories_) {
    platform::Encoder data = container.encoder("data");
    platform::Encoding<OrbisgroveReportCategoriesList>::encode(*categories_, data);
  }
}

}  // namespace orbisgrove
