// How records write their number fields.
#pragma once

#include <orbisgrove/platform/Number.hpp>

#include <cstdint>
#include <memory>
#include <optional>

namespace orbisgrove {

/// The value to encode for a number field: the integer when the number is
/// exactly a signed 64-bit integer, otherwise nothing (written as null).
inline std::optional<std::int64_t> exactInt64(const std::shared_ptr<const platform::Number>& number) {
  if (!number) return std::nullopt;
  return number->int64ValueIfExact();
}

}  // namespace orbisgrove
