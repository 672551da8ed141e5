// Small helpers shared by the ICU-based sources of this folder. Includes ICU,
// so only sources of the platform layer may include it.
#pragma once

#include <unicode/timezone.h>
#include <unicode/ucal.h>
#include <unicode/unistr.h>

#include <memory>
#include <string>

namespace orbisgrove::platform::detail {

inline std::string toUtf8(const icu::UnicodeString& text) {
  std::string result;
  text.toUTF8String(result);
  return result;
}

/// The named zone, or the process's default zone for an empty name. ICU
/// answers an unknown name with its "Etc/Unknown" zone, which behaves as UTC;
/// `known` tells the caller whether that happened.
inline std::unique_ptr<icu::TimeZone> createTimeZone(const std::string& timeZoneID, bool* known = nullptr) {
  if (timeZoneID.empty()) {
    if (known) *known = true;
    return std::unique_ptr<icu::TimeZone>(icu::TimeZone::createDefault());
  }
  std::unique_ptr<icu::TimeZone> zone(icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(timeZoneID)));
  if (known) {
    icu::UnicodeString resolved;
    zone->getID(resolved);
    *known = resolved != icu::UnicodeString(UCAL_UNKNOWN_ZONE_ID) || timeZoneID == UCAL_UNKNOWN_ZONE_ID;
  }
  return zone;
}

}  // namespace orbisgrove::platform::detail
