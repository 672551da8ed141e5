// Dates as ICU 72 writes them for en_US, from the C library's time zone. ICU's
// long time style ends with the zone's short name: for en_US that is the
// American abbreviation in the zones that have one, "UTC" for UTC, and the
// offset from GMT ("GMT", "GMT+1", "GMT+5:30", "GMT-4:56:02") everywhere
// else. The time-zone data gives abbreviations only, so the built-in takes
// the American ones it knows by their offset and writes every other zone's
// offset.
#include "platform/text/BuiltInCalendar.hpp"

#include "platform/text/DecimalText.hpp"

#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string_view>

namespace orbisgrove::platform::builtin {
namespace {

constexpr std::int64_t kDayMilliseconds = 86'400'000;
constexpr double kLargestMilliseconds = 9007199254740992.0;
// Days from 1970-01-01 to 1582-10-15, the first Gregorian day.
constexpr std::int64_t kGregorianCutoverDay = -141427;

std::int64_t floorDivide(std::int64_t value, std::int64_t divisor) {
  const std::int64_t quotient = value / divisor;
  return (value % divisor != 0 && (value < 0) != (divisor < 0)) ? quotient - 1 : quotient;
}

struct LocalZone {
  long offsetSeconds = 0;
  std::string abbreviation;
};

LocalZone zoneAt(std::int64_t secondsSince1970) {
  const auto moment = static_cast<std::time_t>(secondsSince1970);
  std::tm local{};
  if (::localtime_r(&moment, &local) == nullptr) return {};
  return {local.tm_gmtoff, local.tm_zone ? local.tm_zone : ""};
}

long offsetMillisecondsAt(double milliseconds) {
  return zoneAt(floorDivide(static_cast<std::int64_t>(std::floor(milliseconds)), 1000)).offsetSeconds * 1000;
}

struct CivilDate {
  std::int64_t year;
  int month;  // 1-12
  int day;
};

// Days since 1970 to a date of the proleptic Gregorian calendar.
CivilDate gregorianDate(std::int64_t days) {
  days += 719468;
  const std::int64_t era = floorDivide(days, 146097);
  const std::int64_t dayOfEra = days - era * 146097;
  const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::int64_t shifted = (5 * dayOfYear + 2) / 153;
  const int day = static_cast<int>(dayOfYear - (153 * shifted + 2) / 5 + 1);
  const int month = static_cast<int>(shifted < 10 ? shifted + 3 : shifted - 9);
  return {yearOfEra + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

// Days since 1970 to a date of the Julian calendar (year 0 is 1 BC).
CivilDate julianDate(std::int64_t days) {
  // Days since 0000-03-01 of the Julian calendar, in cycles of four years.
  days += 719470;
  const std::int64_t cycle = floorDivide(days, 1461);
  const std::int64_t dayOfCycle = days - cycle * 1461;
  const std::int64_t yearOfCycle = dayOfCycle == 1460 ? 3 : dayOfCycle / 365;
  const std::int64_t dayOfYear = dayOfCycle - 365 * yearOfCycle;
  const std::int64_t shifted = (5 * dayOfYear + 2) / 153;
  const int day = static_cast<int>(dayOfYear - (153 * shifted + 2) / 5 + 1);
  const int month = static_cast<int>(shifted < 10 ? shifted + 3 : shifted - 9);
  return {cycle * 4 + yearOfCycle + (month <= 2 ? 1 : 0), month, day};
}

// The short names en_US gives the American zones, with the offset each
// stands for: a zone elsewhere may use the same letters for another offset
// ("CST" in China).
struct AmericanName {
  std::string_view abbreviation;
  long offsetHours;
};
constexpr std::array<AmericanName, 14> kAmericanNames = {{{"EST", -5},
                                                          {"EDT", -4},
                                                          {"CST", -6},
                                                          {"CDT", -5},
                                                          {"MST", -7},
                                                          {"MDT", -6},
                                                          {"PST", -8},
                                                          {"PDT", -7},
                                                          {"AKST", -9},
                                                          {"AKDT", -8},
                                                          {"HST", -10},
                                                          {"HDT", -9},
                                                          {"AST", -4},
                                                          {"ADT", -3}}};

// The Aleutian Islands share Hawaii's abbreviations in the time-zone data but
// not in en_US, which names them "HAST" and "HADT".
bool isAleutian() {
  const char* zone = std::getenv("TZ");
  if (zone == nullptr) return false;
  const std::string_view name(zone);
  return name.find("Adak") != std::string_view::npos || name.find("Aleutian") != std::string_view::npos ||
         name.find("Atka") != std::string_view::npos;
}

void appendTwoDigits(std::string& text, long value) {
  text += static_cast<char>('0' + value / 10);
  text += static_cast<char>('0' + value % 10);
}

std::string zoneName(const LocalZone& zone) {
  if (zone.offsetSeconds == 0) return zone.abbreviation == "UTC" ? "UTC" : "GMT";
  for (const auto& american : kAmericanNames) {
    if (american.abbreviation == zone.abbreviation && american.offsetHours * 3600 == zone.offsetSeconds) {
      if ((zone.abbreviation == "HST" || zone.abbreviation == "HDT") && isAleutian()) {
        return zone.abbreviation == "HST" ? "HAST" : "HADT";
      }
      return std::string(american.abbreviation);
    }
  }
  std::string name = zone.offsetSeconds < 0 ? "GMT-" : "GMT+";
  const long magnitude = std::labs(zone.offsetSeconds);
  name += std::to_string(magnitude / 3600);
  if (magnitude % 3600 != 0) {
    name += ':';
    appendTwoDigits(name, magnitude % 3600 / 60);
    if (magnitude % 60 != 0) {
      name += ':';
      appendTwoDigits(name, magnitude % 60);
    }
  }
  return name;
}

constexpr std::array<std::string_view, 12> kMonthNames = {"January",   "February", "March",    "April",
                                                          "May",       "June",     "July",     "August",
                                                          "September", "October",  "November", "December"};

// ICU's add of whole days: the wall clock keeps its time; where that time is
// skipped or repeated on the day reached, ICU's default (the later of two
// times, and for a skipped one the time the old offset gives) decides.
double addDays(double milliseconds, std::int64_t days) {
  const long previousOffset = offsetMillisecondsAt(milliseconds);
  const double moved = milliseconds + static_cast<double>(days) * static_cast<double>(kDayMilliseconds);
  const long newOffset = offsetMillisecondsAt(moved);
  if (newOffset == previousOffset) return moved;
  long adjustment = previousOffset - newOffset;
  adjustment = adjustment >= 0 ? adjustment % kDayMilliseconds : -(-adjustment % kDayMilliseconds);
  if (adjustment == 0) return moved;
  const double adjusted = moved + static_cast<double>(adjustment);
  const auto wallTimeInDay = [](double at, long offset) {
    const std::int64_t local = static_cast<std::int64_t>(std::floor(at)) + offset;
    return local - floorDivide(local, kDayMilliseconds) * kDayMilliseconds;
  };
  const bool keepsWallTime =
      wallTimeInDay(adjusted, offsetMillisecondsAt(adjusted)) == wallTimeInDay(milliseconds, previousOffset);
  if (!keepsWallTime && adjustment < 0) return moved;
  return adjusted;
}

}  // namespace

std::string longDateTime(double secondsSince1970) {
  const double milliseconds = secondsSince1970 * 1000.0;
  if (!std::isfinite(milliseconds) || std::fabs(milliseconds) > kLargestMilliseconds) {
    return shortestDecimalText(secondsSince1970);
  }
  const auto utc = static_cast<std::int64_t>(std::floor(milliseconds));
  const LocalZone zone = zoneAt(floorDivide(utc, 1000));
  const std::int64_t local = utc + static_cast<std::int64_t>(zone.offsetSeconds) * 1000;
  const std::int64_t days = floorDivide(local, kDayMilliseconds);
  const std::int64_t secondOfDay = (local - days * kDayMilliseconds) / 1000;
  const CivilDate date = days >= kGregorianCutoverDay ? gregorianDate(days) : julianDate(days);

  std::string text(kMonthNames[static_cast<std::size_t>(date.month - 1)]);
  text += ' ';
  text += std::to_string(date.day);
  text += ", ";
  // The year of its era, as ICU's pattern writes it: 1 BC reads "1".
  text += std::to_string(date.year > 0 ? date.year : 1 - date.year);
  text += " at ";
  const std::int64_t hour = secondOfDay / 3600;
  text += std::to_string(hour % 12 == 0 ? 12 : hour % 12);
  text += ':';
  appendTwoDigits(text, static_cast<long>(secondOfDay % 3600 / 60));
  text += ':';
  appendTwoDigits(text, static_cast<long>(secondOfDay % 60));
  text += hour < 12 ? "\u202fAM " : "\u202fPM ";
  text += zoneName(zone);
  return text;
}

std::optional<std::int64_t> wholeDaysBetween(double fromSecondsSince1970, double toSecondsSince1970) {
  const double from = fromSecondsSince1970 * 1000.0;
  const double to = toSecondsSince1970 * 1000.0;
  for (const double moment : {from, to}) {
    if (!std::isfinite(moment) || std::fabs(moment) > kLargestMilliseconds) return std::nullopt;
  }
  // ICU's search: the largest count of days (towards `to`) whose addition
  // does not pass `to`, found by doubling and then halving.
  const int direction = to >= from ? 1 : -1;
  const auto passes = [&](std::int64_t days) {
    const double reached = addDays(from, direction * days);
    return direction > 0 ? reached > to : reached < to;
  };
  std::int64_t below = 0;
  std::int64_t above = 1;
  while (!passes(above)) {
    below = above;
    above *= 2;
  }
  while (above - below > 1) {
    const std::int64_t middle = below + (above - below) / 2;
    (passes(middle) ? above : below) = middle;
  }
  return direction * below;
}

}  // namespace orbisgrove::platform::builtin
