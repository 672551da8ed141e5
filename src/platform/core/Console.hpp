// The developer console: one line at a time to the host's sink.
#pragma once

#include <string_view>

namespace orbisgrove::platform {

/// Writes one line (the line break is the sink's affair) to the console sink.
void consoleLine(std::string_view line);

/// From inside a catch block: one console line "orbisgrove: <what>: <the
/// exception's message>", for a failure no caller can be told of. Never throws.
void consoleLineForCurrentException(std::string_view what) noexcept;

}  // namespace orbisgrove::platform
