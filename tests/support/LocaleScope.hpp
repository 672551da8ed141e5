// Pins the process's locale and time zone for a test, so texts the kit
// formats for "the current locale" are known in advance.
#pragma once

#include <unicode/locid.h>
#include <unicode/timezone.h>

#include <cstdlib>
#include <ctime>
#include <string>

namespace orbisgrove::testing {

class LocaleScope {
 public:
  LocaleScope(const char* locale, const char* timeZone) : previousLocale_(icu::Locale::getDefault()) {
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale::setDefault(icu::Locale(locale), status);
    icu::TimeZone::adoptDefault(icu::TimeZone::createTimeZone(timeZone));
    if (const char* tz = std::getenv("TZ")) previousTZ_ = tz;
    ::setenv("TZ", timeZone, 1);
    ::tzset();
  }
  ~LocaleScope() {
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale::setDefault(previousLocale_, status);
    if (previousTZ_.empty()) {
      ::unsetenv("TZ");
    } else {
      ::setenv("TZ", previousTZ_.c_str(), 1);
    }
    ::tzset();
    icu::TimeZone::adoptDefault(icu::TimeZone::detectHostTimeZone());
  }
  LocaleScope(const LocaleScope&) = delete;
  LocaleScope& operator=(const LocaleScope&) = delete;

 private:
  icu::Locale previousLocale_;
  std::string previousTZ_;
};

}  // namespace orbisgrove::testing
