// The built-in formatter's calendar: the C library's time zone (TZ) and the
// calendar ICU uses, Julian before 15 October 1582 and Gregorian from then.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace orbisgrove::platform::builtin {

/// "December 8, 2026 at 9:00:00 AM UTC" (a narrow no-break space before AM),
/// for a moment within 2^53 milliseconds of 1970.
std::string longDateTime(double secondsSince1970);
/// Whole days from one moment to the other, each added day keeping the wall
/// clock's time; nothing outside 2^53 milliseconds of 1970.
std::optional<std::int64_t> wholeDaysBetween(double fromSecondsSince1970, double toSecondsSince1970);

}  // namespace orbisgrove::platform::builtin
