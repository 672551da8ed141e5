// The developer console: one line at a time to the host's sink.
#pragma once

#include <string_view>

namespace orbisgrove::platform {

/// Writes one line (the line break is the sink's affair) to the console sink.
void consoleLine(std::string_view line);

}  // namespace orbisgrove::platform
