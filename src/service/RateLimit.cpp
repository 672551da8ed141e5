#include "service/RateLimit.hpp"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <clocale>
#include <cstdlib>
#include <string>

#include <locale.h>

namespace orbisgrove {
namespace {

constexpr std::string_view kLimitField = "X-Rate-Limit-Limit";
constexpr std::string_view kIntervalField = "X-Rate-Limit-Interval";
constexpr std::string_view kResetField = "X-Rate-Limit-Reset";

// The C locale, made once: strtod_l then reads "1.5" the same way under any
// process locale, where plain strtod would follow LC_NUMERIC.
locale_t cLocale() {
  static const locale_t locale = ::newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return locale;
}

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

}  // namespace

std::optional<std::uint64_t> parseRateLimitCount(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
  }
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  if (negative && value != 0) return std::nullopt;
  return value;
}

std::optional<double> parseRateLimitSeconds(std::string_view text) {
  if (text.empty()) return std::nullopt;
  for (const char c : text) {
    if (static_cast<unsigned char>(c) > 127 || isSpace(c) || c == '\0') return std::nullopt;
  }
  const std::string terminated(text);
  char* end = nullptr;
  const double value = ::strtod_l(terminated.c_str(), &end, cLocale());
  if (end != terminated.c_str() + terminated.size()) return std::nullopt;
  return value;
}

std::optional<std::uint64_t> rateLimit(const platform::HTTPURLResponse& response) {
  const auto text = response.valueForHeaderField(kLimitField);
  if (!text) return std::nullopt;
  return parseRateLimitCount(*text);
}

std::optional<double> rateLimitInterval(const platform::HTTPURLResponse& response) {
  const auto text = response.valueForHeaderField(kIntervalField);
  if (!text) return std::nullopt;
  return parseRateLimitSeconds(*text);
}

std::optional<platform::Date> rateLimitResetTime(const platform::HTTPURLResponse& response) {
  const auto text = response.valueForHeaderField(kResetField);
  if (!text) return std::nullopt;
  const auto seconds = parseRateLimitSeconds(*text);
  if (!seconds) return std::nullopt;
  return platform::Date::fromSecondsSince1970(*seconds);
}

std::optional<double> rateLimitResetSecondsAnyCase(const platform::HTTPURLResponse& response) {
  for (const auto& [name, value] : response.allHeaderFields()) {
    if (name.size() == kResetField.size() &&
        std::equal(name.begin(), name.end(), kResetField.begin(), [](char a, char b) {
          return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
        })) {
      return parseRateLimitSeconds(value);
    }
  }
  return std::nullopt;
}

}  // namespace orbisgrove
