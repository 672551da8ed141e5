// The built-in formatter: what ICU 72 writes for en_US, whatever the locale,
// without ICU. Numbers group digits by three with commas; durations name
// their units in full and join them with ", " as ICU's wide unit lists do.
#include "platform/text/BuiltInCalendar.hpp"
#include "platform/text/StatusPhrases.hpp"
#include "platform/text/TextFormatting.hpp"

#include <charconv>
#include <cmath>
#include <string_view>

namespace orbisgrove::platform {
namespace {

constexpr double kLargestMilliseconds = 9007199254740992.0;

std::string groupedDigits(std::uint64_t value) {
  char digits[24];
  auto* const end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  const auto count = static_cast<std::size_t>(end - digits);
  std::string text;
  text.reserve(count + count / 3);
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0 && (count - i) % 3 == 0) text += ',';
    text += digits[i];
  }
  return text;
}

void appendUnit(std::string& text, std::uint64_t amount, std::string_view unit) {
  if (!text.empty()) text += ", ";
  text += groupedDigits(amount);
  text += ' ';
  text += unit;
  if (amount != 1) text += 's';
}

// The rules of LocalizedText::fullDuration: rounded to the
// millisecond once, the seconds keep that fraction without trailing zeros,
// and a fraction is never singular ("1.5 seconds").
std::optional<std::string> fullDuration(double seconds) {
  if (!std::isfinite(seconds) || std::fabs(seconds) * 1000.0 > kLargestMilliseconds) return std::nullopt;
  const long long rounded = std::llround(seconds * 1000.0);
  if (rounded < 0) return std::nullopt;
  const auto milliseconds = static_cast<std::uint64_t>(rounded);
  constexpr std::uint64_t kMinute = 60'000;
  constexpr std::uint64_t kHour = 60 * kMinute;
  constexpr std::uint64_t kDay = 24 * kHour;
  std::string text;
  if (const std::uint64_t days = milliseconds / kDay; days > 0) appendUnit(text, days, "day");
  if (const std::uint64_t hours = milliseconds % kDay / kHour; hours > 0) appendUnit(text, hours, "hour");
  if (const std::uint64_t minutes = milliseconds % kHour / kMinute; minutes > 0) appendUnit(text, minutes, "minute");
  const std::uint64_t secondMilliseconds = milliseconds % kMinute;
  if (secondMilliseconds % 1000 == 0) {
    if (secondMilliseconds > 0 || text.empty()) appendUnit(text, secondMilliseconds / 1000, "second");
    return text;
  }
  if (!text.empty()) text += ", ";
  text += std::to_string(secondMilliseconds / 1000);
  text += '.';
  std::string fraction = std::to_string(1000 + secondMilliseconds % 1000).substr(1);
  fraction.erase(fraction.find_last_not_of('0') + 1);
  text += fraction;
  text += " seconds";
  return text;
}

}  // namespace

TextFormatter builtInTextFormatter() {
  return {.reasonPhrase = localizedStringForStatusCode,
          .longDateTime = builtin::longDateTime,
          .fullDuration = fullDuration,
          .decimal = groupedDigits,
          .wholeDaysBetween = builtin::wholeDaysBetween};
}

}  // namespace orbisgrove::platform
