// A host's own locale-aware formatting: the texts of the rate-limit wording,
// reason phrases and the calendar's day count, from the platform's formatters.
#pragma once

#include <orbisgrove/Export.hpp>
#include <orbisgrove/platform/Error.hpp>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace orbisgrove::platform {

/// A host's own locale-aware formatting (on Android the app's java.text and
/// java.time formatters, on iOS its Foundation formatters), for the current
/// locale and time zone. The kit calls a member on any thread it formats on
/// (the thread that delivers a reply, the thread that asks for the report
/// categories), possibly on several threads at once: each member must be safe
/// to call concurrently. An empty member leaves that operation to the kit's
/// default formatter. A member must not throw: should one throw all the same,
/// the kit writes one console line and uses its default formatter's text for
/// that call. Texts are UTF-8.
struct TextFormatter {
  /// The reason phrase of an HTTP status code, in lower case as the kit's own
  /// ("not found"); for -1 and codes that are no HTTP status, a phrase that
  /// claims nothing about who failed ("unknown error").
  std::function<std::string(std::int64_t statusCode)> reasonPhrase;
  /// The moment in long date style and long time style ("December 8, 2026 at
  /// 9:00:00 AM UTC"), in the current time zone.
  std::function<std::string(double secondsSince1970)> longDateTime;
  /// The duration in full units style, every unit it needs from days down to
  /// seconds, no limit on their number ("1 minute, 30 seconds"); nullopt when
  /// it cannot write one (the kit then writes the plain number and " seconds").
  std::function<std::optional<std::string>(double seconds)> fullDuration;
  /// The number in decimal number style ("1,000").
  std::function<std::string(std::uint64_t value)> decimal;
  /// Whole days from one moment to the other by the current calendar in the
  /// current time zone (7 days 23 hours give 7, 30 hours back give -1);
  /// nullopt when it cannot count them. The report category cache's age.
  std::function<std::optional<std::int64_t>(double fromSecondsSince1970, double toSecondsSince1970)> wholeDaysBetween;
};

/// Makes `formatter` the one every later text of the kit comes from, instead
/// of the kit's default (ICU's formatters for the current locale, or in a
/// build without ICU the built-in English one, which ignores the locale).
/// Install it before the first request: once the kit has formatted a text or
/// made its session, the formatter cannot change, and the call fails.
/// Returns null on success, else an error of the kit's domain that says why.
[[nodiscard]] ORBISGROVE_EXPORT std::shared_ptr<const Error> installTextFormatter(TextFormatter formatter);

}  // namespace orbisgrove::platform
