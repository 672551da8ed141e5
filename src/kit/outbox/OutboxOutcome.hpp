// What an attempt's outcome makes of a stored entry.
#pragma once

#include <orbisgrove/platform/Error.hpp>
#include <orbisgrove/platform/URLResponse.hpp>

#include <memory>
#include <optional>
#include <string>

#include "platform/store/OutboxStore.hpp"

namespace orbisgrove {

/// First wait after a failure that did not reach the service, doubling with
/// each further failure up to kLongestBackOffSeconds.
inline constexpr double kFirstBackOffSeconds = 30;
inline constexpr double kLongestBackOffSeconds = 60 * 60;

/// The wait after `failures` counted failures, scaled by `jitter` in [0, 1)
/// to between three quarters and five quarters of the nominal wait (never
/// beyond the cap).
double backOffSeconds(std::int64_t failures, double jitter);

/// `entry` after the reply judged from (body, response, transport error) at
/// wall-clock time `now`; its state, attempts and marks are as the store
/// holds them. After a 429 whose reset lies ahead, `hold` is the outbox-wide
/// wait until then (never beyond a day); a reset in the past, not finite or
/// unreadable counts as none, and the back-off applies.
platform::StoredEntry afterAttempt(platform::StoredEntry entry, const std::optional<std::string>& body,
                                   const std::shared_ptr<const platform::URLResponse>& response,
                                   const std::shared_ptr<const platform::Error>& transportError, double now,
                                   double jitter, std::optional<platform::StoredWait>& hold);

/// The created record of a "201" reply as JSON, when it has one short enough
/// to keep.
std::optional<std::string> createdRecord(const std::string& reply);

}  // namespace orbisgrove
