// The three rate-limit header parsers against plain reference rules: the
// count is an optional sign and decimal digits that fit 64 unsigned bits
// ("-" only before zeros); the two time values are whatever C strtod reads
// over the whole text, without white space, NUL or bytes above 127.
//
// Input: one selector byte picking the field, then the field's value.
#include "FuzzSupport.hpp"
#include "service/RateLimit.hpp"

#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstring>

#include <locale.h>

namespace {

using namespace orbisgrove;
using fuzzing::require;

std::optional<std::uint64_t> referenceCount(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  if (negative && value != 0) return std::nullopt;
  return value;
}

std::optional<double> referenceSeconds(std::string_view text) {
  if (text.empty()) return std::nullopt;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte > 127 || byte == 0 || std::strchr(" \t\n\v\f\r", c) != nullptr) return std::nullopt;
  }
  static const locale_t cLocale = ::newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  const std::string terminated(text);
  char* end = nullptr;
  const double value = ::strtod_l(terminated.c_str(), &end, cLocale);
  if (end != terminated.c_str() + terminated.size()) return std::nullopt;
  return value;
}

bool same(std::optional<double> a, std::optional<double> b) {
  if (!a || !b) return !a && !b;
  if (std::isnan(*a) || std::isnan(*b)) return std::isnan(*a) && std::isnan(*b);
  return *a == *b && std::signbit(*a) == std::signbit(*b);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The parsers must not follow the process's locale; one that writes a
  // decimal comma shows it at once, where installed.
  for (const char* name : {"de_DE.UTF-8", "fr_FR.UTF-8", "C.UTF-8"}) {
    if (std::setlocale(LC_ALL, name) != nullptr) break;
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::string value(fuzzing::bytesOf(data + 1, size - 1));
  const auto url = platform::URL::fromString("https://127.0.0.1/");
  require(url.has_value(), "the reply URL");

  switch (data[0] % 3) {
    case 0: {
      const platform::HTTPURLResponse response(*url, 429, {{"X-Rate-Limit-Limit", value}});
      require(rateLimit(response) == referenceCount(value), "X-Rate-Limit-Limit disagrees with the decimal rule");
      require(parseRateLimitCount(value) == referenceCount(value), "the count parser disagrees with the decimal rule");
      break;
    }
    case 1: {
      const platform::HTTPURLResponse response(*url, 429, {{"X-Rate-Limit-Interval", value}});
      require(same(rateLimitInterval(response), referenceSeconds(value)),
              "X-Rate-Limit-Interval disagrees with strtod");
      break;
    }
    default: {
      const platform::HTTPURLResponse response(*url, 429, {{"X-Rate-Limit-Reset", value}});
      const auto reset = rateLimitResetTime(response);
      const auto expected = referenceSeconds(value);
      require(reset.has_value() == expected.has_value(), "X-Rate-Limit-Reset disagrees with strtod");
      if (reset) require(same(reset->secondsSince1970, expected), "X-Rate-Limit-Reset reads another moment");
      break;
    }
  }
  return 0;
}
