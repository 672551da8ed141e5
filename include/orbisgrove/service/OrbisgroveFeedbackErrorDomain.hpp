// The kit's own error domain.
#pragma once

#include <orbisgrove/platform/Error.hpp>

#include <cstdint>
#include <string_view>

namespace orbisgrove {

/// Domain of the error values the kit builds itself (code -1). An error built
/// around a transport error carries that error's domain and code instead.
inline constexpr std::string_view OrbisgroveFeedbackErrorDomain = platform::detail::kitErrorDomain;

/// The one code of the kit's domain.
inline constexpr std::int64_t OrbisgroveFeedbackErrorCode = platform::detail::kitErrorCode;

}  // namespace orbisgrove
