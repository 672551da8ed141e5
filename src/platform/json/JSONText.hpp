// Text-level pieces of JSON coding that need no parser: UTF-8 checks, the
// exact value of a number literal and string quoting.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace orbisgrove::platform::detail {

/// Whether `text` is well-formed UTF-8 (no overlong forms, no surrogates,
/// nothing above U+10FFFF).
[[nodiscard]] bool isValidUTF8(std::string_view text) noexcept;

/// `text` with every ill-formed byte replaced by U+FFFD, so that messages
/// that quote foreign bytes stay printable and encodable.
[[nodiscard]] std::string sanitizedUTF8(std::string_view text);

/// The value of a JSON number literal when that exact value is an integer in
/// the signed 64-bit range ("7.0" and "1e1" are; "7.5", "1e300" and
/// "9223372036854775808" are not). The value is judged from the digits, never
/// through a double.
[[nodiscard]] std::optional<std::int64_t> exactInt64FromNumberLiteral(std::string_view literal) noexcept;

/// Whether `literal` is a JSON number whose value is finite as a double;
/// values too small for a double count, as they read as zero ("1e-999").
[[nodiscard]] bool isFiniteJSONNumber(std::string_view literal) noexcept;

/// Appends `text` (valid UTF-8) as a JSON string literal, quotes included.
/// Only what JSON requires is escaped; other characters are written as they are.
void appendJSONString(std::string& out, std::string_view text);

}  // namespace orbisgrove::platform::detail
