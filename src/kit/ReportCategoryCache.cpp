#include "kit/ReportCategoryCache.hpp"

#include <orbisgrove/platform/JSONCoding.hpp>

#include "platform/core/Console.hpp"
#include "platform/core/Date.hpp"
#include "platform/files/PropertyList.hpp"
#include "platform/files/TemporaryDirectory.hpp"
#include "platform/text/Calendar.hpp"

namespace orbisgrove {

namespace {

const std::string kFileName(kReportCategoryCacheFileName);

}  // namespace

std::optional<std::string> reportCategoryCachePath() {
  auto directory = platform::temporaryDirectory();
  if (!directory) return std::nullopt;
  // The directory text already ends with "/": joined as it stands.
  return *directory + kFileName;
}

// Every reading and writing goes through the directory as it was checked,
// whatever another user does to its path meanwhile.
std::optional<ReportCategoryCacheEntry> loadReportCategories() {
  const auto directory = platform::openTemporaryDirectory();
  if (!directory) {
    platform::consoleLine("OrbisgroveFeedbackKit: no usable temporary directory, report categories are not cached");
    return std::nullopt;
  }
  platform::consoleLine(directory->path() + kFileName);
  const int handle = directory->descriptor();
  if (!platform::fileExists(handle, kFileName)) {
    platform::writePropertyListDictionaryAtomically(platform::PropertyListDictionary{}, handle, kFileName);
  }

  const auto dictionary = platform::readPropertyListDictionary(handle, kFileName);
  if (!dictionary) return std::nullopt;
  const auto timestamp = dictionary->exactDouble(kTimestampKey);
  // A stamp the calendar cannot place (NaN, infinite, ages beyond its range)
  // has no age and would make a list fresh forever.
  if (!timestamp || !platform::isWithinCalendarRange(platform::Date::fromSecondsSince1970(*timestamp))) {
    return std::nullopt;
  }
  const auto data = dictionary->data(kReportCategoriesKey);
  if (!data) return std::nullopt;

  ReportCategoryCacheEntry entry;
  try {
    entry.categories = platform::JSONDecoder().decode<OrbisgroveReportCategoriesList>(*data);
  } catch (const platform::CodingError&) {
    // Unreadable list data counts as an empty list, which the facade refetches.
  }
  entry.age = platform::wholeDaysBetween(platform::Date::fromSecondsSince1970(*timestamp), platform::Date::now());
  return entry;
}

void storeReportCategories(const std::optional<OrbisgroveReportCategoriesList>& categories) {
  const auto directory = platform::openTemporaryDirectory();
  if (!directory) return;
  const int handle = directory->descriptor();

  platform::PropertyListDictionary working;
  if (!platform::fileExists(handle, kFileName))
    platform::writePropertyListDictionaryAtomically(working, handle, kFileName);
  if (!platform::fileExists(handle, kFileName)) {
    working.setEmptyArray(kReportCategoriesKey);
  } else if (auto stored = platform::readPropertyListDictionary(handle, kFileName)) {
    // Entries other than ours survive the rewrite.
    working = std::move(*stored);
  }

  if (categories) {
    std::string encoded;
    try {
      encoded = platform::JSONEncoder().encode(*categories);
    } catch (const platform::CodingError& failure) {
      // Leave the file as it was: a new time stamp would make an older list
      // count as fresh for another 8 days.
      platform::consoleLine(failure.error()->description());
      return;
    }
    working.setData(kReportCategoriesKey, encoded);
    working.setReal(kTimestampKey, platform::Date::now().secondsSince1970);
  }
  platform::writePropertyListDictionaryAtomically(working, handle, kFileName);
}

}  // namespace orbisgrove
