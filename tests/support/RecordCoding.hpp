// Decoding records in the model's tests: the value, or the code of the
// coder's error of a decoding that must fail.
#pragma once

#include "TestPrelude.hpp"

namespace orbisgrove::testing {

template <class T>
T decode(std::string_view json) {
  return platform::JSONDecoder().decode<T>(json);
}

/// The code of the coder's error of decoding `json` as a T; 0 when it succeeds.
template <class T>
std::int64_t failureCode(std::string_view json) {
  try {
    (void)decode<T>(json);
  } catch (const platform::CodingError& failure) {
    EXPECT_EQ(failure.error()->domain(), platform::JSONCodingErrorDomain) << json;
    return failure.error()->code();
  }
  return 0;
}
inline constexpr auto typeMismatch = static_cast<std::int64_t>(platform::JSONCodingErrorCode::typeMismatch);
inline constexpr auto dataCorrupted = static_cast<std::int64_t>(platform::JSONCodingErrorCode::dataCorrupted);
inline constexpr auto valueNotFound = static_cast<std::int64_t>(platform::JSONCodingErrorCode::valueNotFound);

/// The number as a signed 64-bit integer, if it is one.
inline std::optional<std::int64_t> exact(const std::shared_ptr<const platform::Number>& number) {
  return number ? number->int64ValueIfExact() : std::nullopt;
}

}  // namespace orbisgrove::testing
