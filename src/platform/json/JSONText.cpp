#include "platform/json/JSONText.hpp"

#include <charconv>
#include <cstddef>
#include <limits>
#include <system_error>

namespace orbisgrove::platform::detail {

namespace {

bool isContinuation(unsigned char byte) noexcept { return (byte & 0xC0U) == 0x80U; }

// Length of the well-formed multi-byte sequence at `at`, or 0. The second
// byte's range excludes overlong forms, surrogates and values past U+10FFFF.
std::size_t sequenceLength(const unsigned char* at, const unsigned char* end) noexcept {
  const unsigned char lead = at[0];
  const auto left = static_cast<std::size_t>(end - at);
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  std::size_t length = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (left < length) return 0;
  if (at[1] < low || at[1] > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (!isContinuation(at[i])) return 0;
  }
  return length;
}

bool isDigit(char c) noexcept { return c >= '0' && c <= '9'; }

}  // namespace

bool isValidUTF8(std::string_view text) noexcept {
  const auto* at = reinterpret_cast<const unsigned char*>(text.data());
  const unsigned char* const end = at + text.size();
  while (at < end) {
    if (*at < 0x80) {
      ++at;
      continue;
    }
    const std::size_t length = sequenceLength(at, end);
    if (length == 0) return false;
    at += length;
  }
  return true;
}

std::string sanitizedUTF8(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  const auto* const begin = reinterpret_cast<const unsigned char*>(text.data());
  const unsigned char* const end = begin + text.size();
  const unsigned char* at = begin;
  while (at < end) {
    if (*at < 0x80) {
      result.push_back(static_cast<char>(*at));
      ++at;
      continue;
    }
    const std::size_t length = sequenceLength(at, end);
    if (length == 0) {
      result += "\xEF\xBF\xBD";
      ++at;
      continue;
    }
    result.append(text.substr(static_cast<std::size_t>(at - begin), length));
    at += length;
  }
  return result;
}

std::optional<std::int64_t> exactInt64FromNumberLiteral(std::string_view literal) noexcept {
  const std::size_t n = literal.size();
  std::size_t i = 0;
  const bool negative = i < n && literal[i] == '-';
  if (negative) ++i;
  const std::size_t intBegin = i;
  while (i < n && isDigit(literal[i])) ++i;
  const std::size_t intLength = i - intBegin;
  std::size_t fracBegin = i;
  std::size_t fracLength = 0;
  if (i < n && literal[i] == '.') {
    ++i;
    fracBegin = i;
    while (i < n && isDigit(literal[i])) ++i;
    fracLength = i - fracBegin;
  }
  // Saturating far beyond any possible digit count keeps the verdict exact:
  // a huge exponent leaves the range, a hugely negative one leaves a fraction.
  constexpr std::int64_t exponentLimit = std::int64_t{1} << 50;
  std::int64_t exponent = 0;
  if (i < n && (literal[i] == 'e' || literal[i] == 'E')) {
    ++i;
    bool exponentNegative = false;
    if (i < n && (literal[i] == '+' || literal[i] == '-')) {
      exponentNegative = literal[i] == '-';
      ++i;
    }
    if (i == n) return std::nullopt;
    while (i < n && isDigit(literal[i])) {
      if (exponent < exponentLimit) exponent = exponent * 10 + (literal[i] - '0');
      ++i;
    }
    if (exponentNegative) exponent = -exponent;
  }
  if (i != n || intLength == 0) return std::nullopt;

  // The value is the digit string (integer part then fraction) times
  // 10^exponent once the fraction's length is taken off the exponent.
  exponent -= static_cast<std::int64_t>(fracLength);
  const auto digitAt = [&](std::size_t k) noexcept {
    return k < intLength ? literal[intBegin + k] : literal[fracBegin + (k - intLength)];
  };
  const std::size_t total = intLength + fracLength;
  std::size_t first = 0;
  while (first < total && digitAt(first) == '0') ++first;
  if (first == total) return 0;  // every zero, -0.0 included
  std::size_t last = total;
  while (digitAt(last - 1) == '0') {
    --last;
    ++exponent;
  }
  // The last significant digit is not zero, so a negative exponent leaves a fraction.
  if (exponent < 0) return std::nullopt;
  // Twenty digits or more make at least 10^19, beyond 2^63.
  if (static_cast<std::int64_t>(last - first) + exponent > 19) return std::nullopt;
  std::uint64_t magnitude = 0;
  for (std::size_t k = first; k < last; ++k) magnitude = magnitude * 10 + static_cast<std::uint64_t>(digitAt(k) - '0');
  for (std::int64_t e = 0; e < exponent; ++e) magnitude *= 10;

  constexpr auto maximum = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  if (!negative) {
    if (magnitude > maximum) return std::nullopt;
    return static_cast<std::int64_t>(magnitude);
  }
  if (magnitude > maximum + 1) return std::nullopt;
  if (magnitude == maximum + 1) return std::numeric_limits<std::int64_t>::min();
  return -static_cast<std::int64_t>(magnitude);
}

bool isFiniteJSONNumber(std::string_view literal) noexcept {
  const std::size_t n = literal.size();
  std::size_t i = 0;
  const auto digits = [&] {
    const std::size_t start = i;
    while (i < n && isDigit(literal[i])) ++i;
    return i - start;
  };
  if (i < n && literal[i] == '-') ++i;
  const std::size_t intBegin = i;
  const std::size_t intLength = digits();
  if (intLength == 0 || (intLength > 1 && literal[intBegin] == '0')) return false;
  if (i < n && literal[i] == '.') {
    ++i;
    if (digits() == 0) return false;
  }
  if (i < n && (literal[i] == 'e' || literal[i] == 'E')) {
    ++i;
    if (i < n && (literal[i] == '+' || literal[i] == '-')) ++i;
    if (digits() == 0) return false;
  }
  if (i != n) return false;

  double value = 0;
  const auto [end, error] = std::from_chars(literal.data(), literal.data() + n, value);
  if (error == std::errc{}) return end == literal.data() + n;
  // Out of range either way: too large is refused, too small reads as zero.
  // Below 1 the value can only be too small.
  std::int64_t order = 0;  // the value is below 10^order and at least 10^(order - 1)
  bool significant = false;
  std::size_t k = intBegin;
  for (; k < n && literal[k] != 'e' && literal[k] != 'E'; ++k) {
    if (literal[k] == '.') continue;
    significant = significant || literal[k] != '0';
    if (significant && k < intBegin + intLength) ++order;
    if (!significant && k > intBegin + intLength) --order;
  }
  if (!significant) return true;
  std::int64_t exponent = 0;
  bool exponentNegative = false;
  for (++k; k < n; ++k) {
    if (literal[k] == '-') exponentNegative = true;
    if (isDigit(literal[k]) && exponent < (std::int64_t{1} << 50)) exponent = exponent * 10 + (literal[k] - '0');
  }
  return order + (exponentNegative ? -exponent : exponent) <= 0;
}

void appendJSONString(std::string& out, std::string_view text) {
  static constexpr char hex[] = "0123456789abcdef";
  out.push_back('"');
  std::size_t runStart = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c != '"' && c != '\\') continue;
    out.append(text.substr(runStart, i - runStart));
    runStart = i + 1;
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        out += "\\u00";
        out.push_back(hex[c >> 4U]);
        out.push_back(hex[c & 0x0FU]);
        break;
    }
  }
  out.append(text.substr(runStart));
  out.push_back('"');
}

}  // namespace orbisgrove::platform::detail
