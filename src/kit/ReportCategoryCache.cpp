#include "kit/ReportCategoryCache.hpp"

#include <orbisgrove/platform/JSONCoding.hpp>

#include "platform/core/Console.hpp"
#include "platform/core/Date.hpp"
#include "platform/files/PropertyList.hpp"
#include "platform/files/TemporaryDirectory.hpp"
#include "platform/text/TextFormatting.hpp"

#include <deque>
#include <iterator>
#include <memory>
#include <string>
#include <utility>

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

// What a file's bytes decode to, kept with the bytes so that a reading of
// the same bytes skips the parsing. Only readings that give an entry are kept.
struct ReportCategoryCache::Reading {
  std::string fileBytes;
  double timestamp = 0;
  std::string listData;
  // The parsed list data; null when it does not decode as a list.
  std::unique_ptr<const platform::JSONDocument> document;
};

namespace {

// The records come first and the list's storage last: glibc's allocator
// answers a request of a kilobyte or more by first merging every small block
// freed so far (the host's last list), after which each record's own small
// allocations take its slow path. Built in this order a hit of 200 records
// takes about a fifth less time.
OrbisgroveReportCategoriesList decodeList(const platform::JSONDocument& document) {
  const auto elements = document.root().unkeyedContainer();
  std::deque<OrbisgroveReportCategoriesList::value_type> built;
  for (std::size_t i = 0; i < elements.count(); ++i)
    built.push_back(platform::Decoding<OrbisgroveReportCategoriesList::value_type>::decode(elements.decoder(i)));
  return {std::make_move_iterator(built.begin()), std::make_move_iterator(built.end())};
}

}  // namespace

// Every reading and writing goes through the directory as it was checked,
// whatever another user does to its path meanwhile.
std::optional<ReportCategoryCacheEntry> ReportCategoryCache::load() {
  const auto directory = platform::openTemporaryDirectory();
  if (!directory) {
    platform::consoleLine("OrbisgroveFeedbackKit: no usable temporary directory, report categories are not cached");
    return std::nullopt;
  }
  platform::consoleLine(directory->path() + kFileName);
  const int handle = directory->descriptor();
  std::shared_ptr<const Reading> last;
  {
    const std::lock_guard lock(mutex_);
    last = last_;
  }
  auto file = platform::readPropertyListFile(handle, kFileName, last ? std::string_view(last->fileBytes) : "");
  if (!file) {
    // A missing file is created empty, which would read as no entry: no need
    // to look for it before every reading, nor to read it back.
    if (!platform::fileExists(handle, kFileName)) {
      platform::writePropertyListDictionaryAtomically(platform::PropertyListDictionary{}, handle, kFileName);
    }
    return std::nullopt;
  }
  ReportCategoryCacheEntry entry;
  std::shared_ptr<const Reading> reading;
  if (file->unchanged) {
    reading = std::move(last);
    try {
      if (reading->document) entry.categories = decodeList(*reading->document);
    } catch (const platform::CodingError&) {
      // Cannot happen for a document that decoded before; reads as empty.
    }
  } else {
    const auto dictionary = platform::PropertyListDictionary::fromBytes(file->bytes);
    if (!dictionary) return std::nullopt;
    const auto timestamp = dictionary->exactDouble(kTimestampKey);
    // A stamp the calendar cannot place (NaN, infinite, ages beyond its range)
    // has no age and would make a list fresh forever.
    if (!timestamp || !platform::isWithinCalendarRange(platform::Date::fromSecondsSince1970(*timestamp))) {
      return std::nullopt;
    }
    auto data = dictionary->data(kReportCategoriesKey);
    if (!data) return std::nullopt;

    auto fresh = std::make_shared<Reading>();
    fresh->fileBytes = std::move(file->bytes);
    fresh->timestamp = *timestamp;
    fresh->listData = std::move(*data);
    try {
      auto document = std::make_unique<const platform::JSONDocument>(fresh->listData);
      entry.categories = decodeList(*document);
      fresh->document = std::move(document);
    } catch (const platform::CodingError&) {
      // Unreadable list data counts as an empty list, which the facade refetches.
    }
    reading = fresh;
    const std::lock_guard lock(mutex_);
    last_ = std::move(fresh);
  }
  entry.age =
      platform::wholeDaysBetween(platform::Date::fromSecondsSince1970(reading->timestamp), platform::Date::now());
  return entry;
}

std::optional<ReportCategoryCacheEntry> loadReportCategories() { return ReportCategoryCache().load(); }

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
