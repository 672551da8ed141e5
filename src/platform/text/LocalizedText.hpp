// Locale-aware texts on ICU: numbers, durations and dates. The ICU build's
// default formatter; only the platform layer and its tests include it.
#pragma once

#include "platform/core/Date.hpp"
#include "platform/text/DecimalText.hpp"
#include "platform/text/StatusPhrases.hpp"

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

}  // namespace orbisgrove::platform
