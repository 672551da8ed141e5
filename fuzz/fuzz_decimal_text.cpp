// The decimal text of a coordinate, on every double: it reads back (C strtod)
// as the very same double, NaN stays NaN, and it has the form the service
// expects: plain digits with a point in between 0.0001 and 2^53, exponent
// form with at least two exponent digits outside, never a locale's comma.
//
// Input: eight bytes, the double's bits.
#include "FuzzSupport.hpp"
#include "platform/text/DecimalText.hpp"

#include <charconv>
#include <clocale>
#include <cmath>
#include <cstring>

#include <locale.h>

namespace {

using orbisgrove::fuzzing::require;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  for (const char* name : {"de_DE.UTF-8", "fr_FR.UTF-8", "C.UTF-8"}) {
    if (std::setlocale(LC_ALL, name) != nullptr) break;
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size != sizeof(double)) return 0;
  double value = 0;
  std::memcpy(&value, data, sizeof value);
  const std::string text = orbisgrove::platform::shortestDecimalText(value);

  static const locale_t cLocale = ::newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  char* end = nullptr;
  const double back = ::strtod_l(text.c_str(), &end, cLocale);
  require(end == text.c_str() + text.size(), "the text does not read back whole");
  if (std::isnan(value)) {
    require(std::isnan(back) && text == "nan", "NaN did not stay NaN");
    return 0;
  }
  require(std::memcmp(&back, &value, sizeof value) == 0, "the text reads back as another double");
  require(text.find(',') == std::string::npos, "a comma in the text");
  if (std::isinf(value) || value == 0) return 0;

  const double magnitude = std::fabs(value);
  const bool exponentForm = magnitude < 0.0001 || magnitude >= 9007199254740992.0;
  const std::size_t e = text.find('e');
  require((e != std::string::npos) == exponentForm, "plain and exponent form chosen by the wrong magnitude");
  if (exponentForm) {
    const std::string exponent = text.substr(e + 1);
    require(exponent.size() >= 3 && (exponent[0] == '+' || exponent[0] == '-'),
            "an exponent with fewer than two digits");
  } else {
    require(text.find('.') != std::string::npos, "plain form without a point");
  }
  // Shortest: no more significant digits than the shortest round trip needs.
  char shortest[64];
  const auto result = std::to_chars(shortest, shortest + sizeof shortest, value);
  std::string_view shortestText(shortest, static_cast<std::size_t>(result.ptr - shortest));
  const auto digits = [](std::string_view t) {
    std::size_t count = 0;
    bool leading = true;
    for (const char c : t.substr(0, t.find('e'))) {
      if (c < '0' || c > '9') continue;
      if (c == '0' && leading) continue;
      leading = false;
      ++count;
    }
    return count;
  };
  // Trailing zeros of plain whole numbers (28.0, 1000.0) are padding, not precision.
  std::string significant(text.substr(0, e));
  if (!exponentForm) {
    while (!significant.empty() && (significant.back() == '0' || significant.back() == '.')) significant.pop_back();
  }
  require(digits(significant) <= digits(shortestText), "more digits than the shortest text needs");
  return 0;
}
