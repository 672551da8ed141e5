// The day arithmetic of ICU's calendar (the ICU build's default formatter).
#pragma once

#include "platform/core/Date.hpp"

#include <cstdint>
#include <optional>
#include <string>

namespace orbisgrove::platform {

/// Whole days from `from` to `to` by ICU's calendar in the named time zone
/// ("Europe/Berlin"; empty: the default zone, TZ): part of a day does not
/// count, so 7 days 23 hours give 7 and 30 hours back give -1, across
/// daylight-saving changes too. Nothing when the calendar cannot count:
/// non-finite moments, moments beyond 2^53 milliseconds from 1970, or a zone
/// name the time-zone data does not know.
std::optional<std::int64_t> wholeDaysBetween(Date from, Date to, const std::string& timeZoneID);

}  // namespace orbisgrove::platform
