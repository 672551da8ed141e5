// The decimal text of a double, as the service expects it in report texts.
#include "platform/text/DecimalText.hpp"

#include <charconv>
#include <cmath>

namespace orbisgrove::platform {

std::string shortestDecimalText(double value) {
  if (std::isnan(value)) return "nan";  // the sign of a NaN carries no meaning
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
  if (value == 0) return std::signbit(value) ? "-0.0" : "0.0";

  // Beyond 2^53 a double no longer holds every whole number, and plain
  // notation would pad the shortest digits with zeros that were never
  // there; from that magnitude on, as below 0.0001, exponent form is used.
  constexpr double kSmallestPlain = 0.0001;
  constexpr double kLargestPlain = 9007199254740992.0;
  const double magnitude = std::fabs(value);
  // Long enough for the longest shortest text in either notation.
  char buffer[64];
  if (magnitude < kSmallestPlain || magnitude >= kLargestPlain) {
    // Scientific notation writes at least two exponent digits (1e-05).
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
    return {buffer, result.ptr};
  }
  // Asked for explicitly: left to itself, to_chars would pick "1e-04" for
  // 0.0001 because it is shorter.
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
  std::string text(buffer, result.ptr);
  if (text.find('.') == std::string::npos) text += ".0";
  return text;
}

}  // namespace orbisgrove::platform
