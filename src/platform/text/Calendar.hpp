// The current calendar's day arithmetic.
#pragma once

#include "platform/core/Date.hpp"

#include <cstdint>
#include <optional>
#include <string>

namespace orbisgrove::platform {

/// Whole days from `from` to `to` by the current calendar in the default time
/// zone (TZ): part of a day does not count, so 7 days 23 hours give 7 and 30
/// hours back give -1, across daylight-saving changes too. Nothing when the
/// calendar cannot count: non-finite moments, moments beyond 2^53
/// milliseconds from 1970, or a zone name the time-zone data does not know.
std::optional<std::int64_t> wholeDaysBetween(Date from, Date to);
/// Whether the calendar counts days for `moment` at all: finite and within
/// 2^53 milliseconds of 1970. A moment outside has no age, however old it is.
bool isWithinCalendarRange(Date moment);
/// The same in a named time zone ("Europe/Berlin").
std::optional<std::int64_t> wholeDaysBetween(Date from, Date to, const std::string& timeZoneID);

}  // namespace orbisgrove::platform
