// Locale-aware texts on ICU. Formatters are costly to build and most of them
// are not safe to share between threads, so each thread keeps its own, per
// locale and time zone, for as long as it lives.
#include "platform/text/LocalizedText.hpp"

#include "platform/text/IcuSupport.hpp"

#include <unicode/datefmt.h>
#include <unicode/fieldpos.h>
#include <unicode/fmtable.h>
#include <unicode/locid.h>
#include <unicode/measfmt.h>
#include <unicode/measunit.h>
#include <unicode/measure.h>
#include <unicode/numberformatter.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>

#include <charconv>
#include <cmath>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace orbisgrove::platform {
namespace {

struct Formatters {
  icu::Locale locale;
  std::string timeZoneID;
  std::optional<icu::number::LocalizedNumberFormatter> number;
  std::unique_ptr<icu::MeasureFormat> duration;
  bool durationFailed = false;
  std::unique_ptr<icu::DateFormat> dateTime;
  bool dateTimeFailed = false;
};

// A handful of locale and zone pairs per thread is the realistic case; the
// bound only keeps a caller that cycles through many of them from growing the
// cache without end.
constexpr std::size_t kMaximumCachedFormatters = 8;

Formatters& formattersFor(const std::string& localeName, const std::string& timeZoneID) {
  thread_local std::unordered_map<std::string, std::unique_ptr<Formatters>> cache;
  std::string key = localeName;
  key += '\n';
  key += timeZoneID;
  if (auto found = cache.find(key); found != cache.end()) return *found->second;
  if (cache.size() >= kMaximumCachedFormatters) cache.clear();
  auto formatters = std::make_unique<Formatters>();
  formatters->locale = icu::Locale(localeName.c_str());
  formatters->timeZoneID = timeZoneID;
  return *cache.emplace(std::move(key), std::move(formatters)).first->second;
}

std::string plainDigits(std::uint64_t value) {
  char buffer[24];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return {buffer, result.ptr};
}

// Past 2^53 milliseconds (about 285,000 years) a millisecond count is no
// longer exact, and further out ICU quietly clamps moments to its own range;
// such values are no period or moment anyone means.
constexpr double kLargestMilliseconds = 9007199254740992.0;

}  // namespace

LocalizedText LocalizedText::current() { return LocalizedText(icu::Locale::getDefault().getName()); }

LocalizedText::LocalizedText(std::string localeName, std::string timeZoneID)
    : localeName_(std::move(localeName)), timeZoneID_(std::move(timeZoneID)) {}

std::string LocalizedText::decimal(std::uint64_t value) const {
  std::string digits = plainDigits(value);
  auto& formatters = formattersFor(localeName_, timeZoneID_);
  if (!formatters.number) formatters.number = icu::number::NumberFormatter::withLocale(formatters.locale);
  UErrorCode status = U_ZERO_ERROR;
  // Through the decimal text so that values above the signed 64-bit range
  // keep every digit.
  const auto formatted = formatters.number->formatDecimal(icu::StringPiece(digits.c_str()), status);
  const icu::UnicodeString text = formatted.toString(status);
  if (U_FAILURE(status)) return digits;
  return detail::toUtf8(text);
}

std::optional<std::string> LocalizedText::fullDuration(double seconds) const {
  if (!std::isfinite(seconds) || std::fabs(seconds) * 1000.0 > kLargestMilliseconds) return std::nullopt;
  // Rounded to whole milliseconds once, so that the units below add up to
  // the text shown: 59.9999 s reads "1 minute", never "60 seconds".
  const long long milliseconds = std::llround(seconds * 1000.0);
  // A period cannot be negative; the caller then shows the plain number.
  if (milliseconds < 0) return std::nullopt;

  auto& formatters = formattersFor(localeName_, timeZoneID_);
  if (formatters.durationFailed) return std::nullopt;
  UErrorCode status = U_ZERO_ERROR;
  if (!formatters.duration) {
    formatters.duration = std::make_unique<icu::MeasureFormat>(formatters.locale, UMEASFMT_WIDTH_WIDE, status);
    if (U_FAILURE(status)) {
      formatters.duration.reset();
      formatters.durationFailed = true;
      return std::nullopt;
    }
  }

  constexpr long long kMinute = 60'000;
  constexpr long long kHour = 60 * kMinute;
  constexpr long long kDay = 24 * kHour;
  const long long days = milliseconds / kDay;
  const long long hours = milliseconds % kDay / kHour;
  const long long minutes = milliseconds % kHour / kMinute;
  const long long secondMilliseconds = milliseconds % kMinute;

  std::vector<icu::Measure> measures;
  measures.reserve(4);
  const auto add = [&](const icu::Formattable& amount, icu::MeasureUnit* unit) {
    if (U_SUCCESS(status))
      measures.emplace_back(amount, unit, status);
    else
      delete unit;
  };
  if (days > 0) add(icu::Formattable(static_cast<std::int64_t>(days)), icu::MeasureUnit::createDay(status));
  if (hours > 0) add(icu::Formattable(static_cast<std::int64_t>(hours)), icu::MeasureUnit::createHour(status));
  if (minutes > 0) add(icu::Formattable(static_cast<std::int64_t>(minutes)), icu::MeasureUnit::createMinute(status));
  // Seconds are kept with their fraction (to the millisecond) rather than
  // rounded away, so that half a second never reads as "0 seconds"; a whole
  // number goes in as an integer so that plural rules see no fraction.
  if (secondMilliseconds > 0 || measures.empty()) {
    const icu::Formattable amount = secondMilliseconds % 1000 == 0
                                        ? icu::Formattable(static_cast<std::int64_t>(secondMilliseconds / 1000))
                                        : icu::Formattable(static_cast<double>(secondMilliseconds) / 1000.0);
    add(amount, icu::MeasureUnit::createSecond(status));
  }
  if (U_FAILURE(status)) return std::nullopt;

  icu::UnicodeString text;
  icu::FieldPosition position;
  formatters.duration->formatMeasures(measures.data(), static_cast<int32_t>(measures.size()), text, position, status);
  if (U_FAILURE(status) || text.isEmpty()) return std::nullopt;
  return detail::toUtf8(text);
}

std::string LocalizedText::longDateTime(Date date) const {
  const double milliseconds = date.secondsSince1970 * 1000.0;
  // A moment no calendar can show still reads as the number it was given.
  if (!std::isfinite(milliseconds) || std::fabs(milliseconds) > kLargestMilliseconds) {
    return shortestDecimalText(date.secondsSince1970);
  }
  auto& formatters = formattersFor(localeName_, timeZoneID_);
  if (!formatters.dateTime && !formatters.dateTimeFailed) {
    formatters.dateTime.reset(
        icu::DateFormat::createDateTimeInstance(icu::DateFormat::kLong, icu::DateFormat::kLong, formatters.locale));
    if (formatters.dateTime) {
      formatters.dateTime->adoptTimeZone(detail::createTimeZone(formatters.timeZoneID).release());
    } else {
      formatters.dateTimeFailed = true;
    }
  }
  if (!formatters.dateTime) return shortestDecimalText(date.secondsSince1970);
  icu::UnicodeString text;
  formatters.dateTime->format(milliseconds, text);
  if (text.isEmpty()) return shortestDecimalText(date.secondsSince1970);
  return detail::toUtf8(text);
}

}  // namespace orbisgrove::platform
