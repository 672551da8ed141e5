// The categories reply as the service sends it: decoding never crashes, fails
// only with the JSON coder's error, and a decoded list survives the trip
// through the encoding the cache stores, field for field.
#include <orbisgrove/model/OrbisgroveReportCategories.hpp>

#include "FuzzSupport.hpp"
#include "model/OrbisgroveReportCategoriesResponse.hpp"

namespace {

using namespace orbisgrove;
using fuzzing::require;

void requireSameList(const OrbisgroveReportCategoriesList& a, const OrbisgroveReportCategoriesList& b) {
  require(a.size() == b.size(), "the list changed length through the cache encoding");
  for (std::size_t i = 0; i < a.size(); ++i) {
    require(a[i] && b[i], "a null category");
    require(a[i]->reportId() == b[i]->reportId(), "reportId changed through the cache encoding");
    require(a[i]->reportName() == b[i]->reportName(), "reportName changed through the cache encoding");
    require(a[i]->parentId() == b[i]->parentId(), "parentId changed through the cache encoding");
    require(fuzzing::sameNumber(a[i]->created(), b[i]->created()), "created changed through the cache encoding");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::optional<OrbisgroveReportCategoriesList> categories;
  try {
    categories =
        platform::JSONDecoder().decode<OrbisgroveReportCategoriesResponse>(fuzzing::bytesOf(data, size)).categories();
  } catch (const platform::CodingError& failure) {
    fuzzing::requireCodingError(failure);
    return 0;
  }
  if (!categories) return 0;

  // What the facade stores and later reads back from the device.
  std::string encoded;
  try {
    encoded = platform::JSONEncoder().encode(*categories);
  } catch (const platform::CodingError& failure) {
    require(false, "a list the decoder accepted cannot be encoded for the cache");
  }
  try {
    requireSameList(*categories, platform::JSONDecoder().decode<OrbisgroveReportCategoriesList>(encoded));
  } catch (const platform::CodingError&) {
    require(false, "the cache encoding of a decoded list does not decode");
  }
  return 0;
}
