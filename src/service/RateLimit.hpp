// The service's rate-limit header fields, read from an HTTP reply.
#pragma once

#include <orbisgrove/platform/URLResponse.hpp>

#include "platform/core/Date.hpp"

#include <cstdint>
#include <optional>
#include <string_view>

namespace orbisgrove {

/// "X-Rate-Limit-Limit": requests allowed per period. A decimal unsigned
/// 64-bit integer with an optional sign; "-" only before zeros (reads 0).
std::optional<std::uint64_t> rateLimit(const platform::HTTPURLResponse& response);
/// "X-Rate-Limit-Interval": the period's length in seconds.
std::optional<double> rateLimitInterval(const platform::HTTPURLResponse& response);
/// "X-Rate-Limit-Reset": when requests may be made again (seconds since 1970).
std::optional<platform::Date> rateLimitResetTime(const platform::HTTPURLResponse& response);

/// "X-Rate-Limit-Reset" in seconds since 1970, its field name matched in any
/// letter case (a gateway may pass names on in lower case). For scheduling
/// only: the error's wording reads the field by its exact name.
std::optional<double> rateLimitResetSecondsAnyCase(const platform::HTTPURLResponse& response);

/// The unsigned rule of "X-Rate-Limit-Limit" on bare text.
std::optional<std::uint64_t> parseRateLimitCount(std::string_view text);
/// A floating-point number in C strtod syntax (C locale, whatever the process
/// locale is) taking up the whole text; no white space anywhere, no byte
/// above 127.
std::optional<double> parseRateLimitSeconds(std::string_view text);

}  // namespace orbisgrove
