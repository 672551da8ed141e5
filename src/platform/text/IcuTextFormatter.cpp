// The default formatter of a build with ICU: ICU's formatters for the
// process's locale and time zone, and the kit's own reason phrases.
#include "platform/text/Calendar.hpp"
#include "platform/text/LocalizedText.hpp"
#include "platform/text/TextFormatting.hpp"

namespace orbisgrove::platform {

TextFormatter defaultTextFormatter() {
  return {
      .reasonPhrase = localizedStringForStatusCode,
      .longDateTime = [](double seconds) { return LocalizedText::current().longDateTime(Date{seconds}); },
      .fullDuration = [](double seconds) { return LocalizedText::current().fullDuration(seconds); },
      .decimal = [](std::uint64_t value) { return LocalizedText::current().decimal(value); },
      .wholeDaysBetween = [](double from, double to) { return wholeDaysBetween(Date{from}, Date{to}, std::string()); }};
}

}  // namespace orbisgrove::platform
