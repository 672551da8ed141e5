// Pins the process's locale and time zone for a test, so texts the kit
// formats for "the current locale" are known in advance. Without ICU only the
// zone matters: the built-in formatter ignores the locale.
#pragma once

#ifdef ORBISGROVE_WITH_ICU
#include <unicode/locid.h>
#include <unicode/timezone.h>
#endif

#include <cstdlib>
#include <ctime>
#include <string>

namespace orbisgrove::testing {

class LocaleScope {
 public:
  LocaleScope(const char* locale, const char* timeZone) {
#ifdef ORBISGROVE_WITH_ICU
    previousLocale_ = icu::Locale::getDefault();
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale::setDefault(icu::Locale(locale), status);
    icu::TimeZone::adoptDefault(icu::TimeZone::createTimeZone(timeZone));
#else
    static_cast<void>(locale);
#endif
    if (const char* tz = std::getenv("TZ")) previousTZ_ = tz;
    ::setenv("TZ", timeZone, 1);
    ::tzset();
  }
  ~LocaleScope() {
#ifdef ORBISGROVE_WITH_ICU
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale::setDefault(previousLocale_, status);
#endif
    if (previousTZ_.empty()) {
      ::unsetenv("TZ");
    } else {
      ::setenv("TZ", previousTZ_.c_str(), 1);
    }
    ::tzset();
#ifdef ORBISGROVE_WITH_ICU
    icu::TimeZone::adoptDefault(icu::TimeZone::detectHostTimeZone());
#endif
  }
  LocaleScope(const LocaleScope&) = delete;
  LocaleScope& operator=(const LocaleScope&) = delete;

 private:
#ifdef ORBISGROVE_WITH_ICU
  icu::Locale previousLocale_;
#endif
  std::string previousTZ_;
};

}  // namespace orbisgrove::testing
