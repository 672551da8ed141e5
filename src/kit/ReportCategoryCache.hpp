// The device copy of the category list: one property-list file in the
// application's temporary directory, read at every request, rewritten whole
// after every list the service sends.
#pragma once

#include <orbisgrove/model/OrbisgroveReportCategories.hpp>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace orbisgrove {

/// The cache file's name in the temporary directory.
inline constexpr std::string_view kReportCategoryCacheFileName = "orbisgroveReportCategories.plist";
/// The list's entry: the UTF-8 bytes of a JSON array of category objects.
inline constexpr std::string_view kReportCategoriesKey = "reportCategories";
/// The moment of the save, in seconds since 1970 (a real).
inline constexpr std::string_view kTimestampKey = "timestamp";

/// What the cache holds.
struct ReportCategoryCacheEntry {
  /// The stored list in stored order; empty when the stored bytes do not decode.
  OrbisgroveReportCategoriesList categories;
  /// Whole days from the save to now by the current calendar (negative when
  /// the save lies in the future); absent when the calendar cannot count.
  std::optional<std::int64_t> age;
};

/// The temporary directory's path followed by the file name; nothing when
/// there is no usable temporary directory.
std::optional<std::string> reportCategoryCachePath();

/// The cache as one facade reads it. Every reading still goes to the file,
/// but when the file holds exactly the bytes of this object's last reading,
/// their parsed form is reused: each reading still hands out new records and
/// counts the age afresh. Safe to use from several threads at once.
class ReportCategoryCache {
 public:
  /// See loadReportCategories().
  std::optional<ReportCategoryCacheEntry> load();

 private:
  struct Reading;
  std::mutex mutex_;  // guards last_ only, never held while the file is read
  std::shared_ptr<const Reading> last_;
};

/// Reads the cache: writes its path to the console and creates the file (as
/// an empty dictionary) when it is missing. Nothing without a usable time
/// stamp (missing, not a number, not exactly a double, outside the calendar's
/// range) or without list data. Never reports a failure.
std::optional<ReportCategoryCacheEntry> loadReportCategories();

/// Stores the list with the current time; other entries of the file survive.
/// When the list cannot be encoded the file is left exactly as it was and the
/// encoder's error goes to the console. Never reports a failure.
void storeReportCategories(const std::optional<OrbisgroveReportCategoriesList>& categories);

}  // namespace orbisgrove
