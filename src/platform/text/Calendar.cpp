// Whole-day differences on ICU's calendar for the default locale, which also
// gets daylight-saving days right: a calendar day may last 23 or 25 hours.
#include "platform/text/Calendar.hpp"

#include "platform/text/IcuSupport.hpp"
#include "platform/text/TextFormatting.hpp"

#include <unicode/calendar.h>
#include <unicode/ucal.h>

#include <memory>
#include <unordered_map>
#include <utility>

namespace orbisgrove::platform {
namespace {

constexpr std::size_t kMaximumCachedCalendars = 8;

// Calendars are not safe to share between threads, and fieldDifference moves
// the calendar's time, so each thread keeps its own per zone. Null stands for
// a zone name that ICU does not know.
icu::Calendar* calendarFor(const std::string& timeZoneID) {
  thread_local std::unordered_map<std::string, std::unique_ptr<icu::Calendar>> cache;
  if (auto found = cache.find(timeZoneID); found != cache.end()) return found->second.get();
  if (cache.size() >= kMaximumCachedCalendars) cache.clear();
  bool known = false;
  auto zone = detail::createTimeZone(timeZoneID, &known);
  std::unique_ptr<icu::Calendar> calendar;
  if (known && zone) {
    UErrorCode status = U_ZERO_ERROR;
    calendar.reset(icu::Calendar::createInstance(zone.release(), status));
    if (U_FAILURE(status)) calendar.reset();
  }
  return cache.emplace(timeZoneID, std::move(calendar)).first->second.get();
}

}  // namespace

std::optional<std::int64_t> wholeDaysBetween(Date from, Date to, const std::string& timeZoneID) {
  if (!isWithinCalendarRange(from) || !isWithinCalendarRange(to)) return std::nullopt;
  const double fromMilliseconds = from.secondsSince1970 * 1000.0;
  const double toMilliseconds = to.secondsSince1970 * 1000.0;
  icu::Calendar* calendar = calendarFor(timeZoneID);
  if (!calendar) return std::nullopt;
  UErrorCode status = U_ZERO_ERROR;
  calendar->setTime(fromMilliseconds, status);
  const int32_t days = calendar->fieldDifference(toMilliseconds, UCAL_DATE, status);
  if (U_FAILURE(status)) return std::nullopt;
  return days;
}

}  // namespace orbisgrove::platform
