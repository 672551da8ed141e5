// The texts the kit shows and the day count of the category cache, through
// the formatter in use: the host's where it installed one (per member), else
// the kit's default.
#pragma once

#include <orbisgrove/platform/TextFormatter.hpp>

#include "platform/core/Date.hpp"

#include <cstdint>
#include <optional>
#include <string>

namespace orbisgrove::platform {

/// The reason phrase of an HTTP status code.
std::string statusPhrase(std::int64_t statusCode);
/// The moment in long date and long time style.
std::string longDateTimeText(Date moment);
/// The duration in full units style; nothing when the formatter writes none.
std::optional<std::string> fullDurationText(double seconds);
/// The number in decimal style.
std::string decimalText(std::uint64_t value);
/// Whole days from `from` to `to` by the current calendar in the current time
/// zone (TZ); nothing when the calendar cannot count them.
std::optional<std::int64_t> wholeDaysBetween(Date from, Date to);
/// Whether the calendar counts days for `moment` at all: finite and within
/// 2^53 milliseconds of 1970. A moment outside has no age, however old it is.
bool isWithinCalendarRange(Date moment);

/// The formatter the kit uses where the host installed none: ICU's for the
/// current locale, or the built-in one in a build without ICU.
TextFormatter defaultTextFormatter();
/// The built-in formatter: what ICU writes for en_US, whatever the locale,
/// with the C library's time zone (TZ) for dates and day counts.
TextFormatter builtInTextFormatter();

}  // namespace orbisgrove::platform
