// The kit's own English reason phrases of HTTP status codes.
#pragma once

#include <cstdint>
#include <string>

namespace orbisgrove::platform {

/// The reason phrase of an HTTP status code in lower case ("not found",
/// "too many requests"); the class phrase ("client error", "server error")
/// for an unknown code in 100-599, and "unknown error" for anything else
/// (-1 included).
std::string localizedStringForStatusCode(std::int64_t statusCode);

}  // namespace orbisgrove::platform
