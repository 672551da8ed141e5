// Locale-aware texts: numbers, durations, dates, and HTTP reason phrases.
#pragma once

#include "platform/core/Date.hpp"

#include <cstdint>
#include <optional>
#include <string>

namespace orbisgrove::platform {

/// Formats values for one locale and time zone. `current()` follows the
/// process's locale (LC_ALL, LC_MESSAGES, LANG) and time zone (TZ). Safe to
/// use from any thread; cheap to make.
class LocalizedText {
 public:
  static LocalizedText current();
  /// A locale such as "en_US" or "de_DE"; an empty time zone means the default,
  /// and a zone name the time-zone data does not know formats as GMT.
  explicit LocalizedText(std::string localeName, std::string timeZoneID = {});

  /// Decimal number style: "1,000" in en_US, "1.000" in de_DE.
  [[nodiscard]] std::string decimal(std::uint64_t value) const;
  /// Full units style, every unit the duration needs from days down to
  /// seconds ("1 hour", "1 minute, 30 seconds"). The value is rounded to the
  /// millisecond and the seconds keep that fraction ("0.5 seconds"). Nothing
  /// for a value that is no period: NaN, infinite, negative once rounded,
  /// or beyond 2^53 milliseconds (about 285,000 years).
  [[nodiscard]] std::optional<std::string> fullDuration(double seconds) const;
  /// Long date style and long time style ("January 1, 2027 at 12:00:00 AM UTC").
  /// A moment no calendar shows (non-finite, or beyond 2^53 milliseconds from
  /// 1970) reads as shortestDecimalText of its seconds.
  [[nodiscard]] std::string longDateTime(Date date) const;

  [[nodiscard]] const std::string& localeName() const noexcept { return localeName_; }

 private:
  std::string localeName_;
  std::string timeZoneID_;
};

/// The reason phrase of an HTTP status code in lower case ("not found",
/// "too many requests"); the class phrase ("client error", "server error")
/// for an unknown code in 100-599, and "unknown error" for anything else
/// (-1 included).
std::string localizedStringForStatusCode(std::int64_t statusCode);

/// The shortest decimal text that reads back as the same double; whole
/// numbers keep ".0" (28.0); magnitudes below 0.0001 other than zero in
/// exponent form with at least two exponent digits (1e-05), as are
/// magnitudes from 2^53 on (1e+21), where plain digits would pad with zeros
/// that were never there; "nan", "inf", "-inf"; -0.0 keeps its sign.
std::string shortestDecimalText(double value);

}  // namespace orbisgrove::platform
