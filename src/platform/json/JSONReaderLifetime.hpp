// Keeps the JSON reader usable until the session's exit hook has stopped its
// delivery thread.
#pragma once

namespace orbisgrove::platform {

/// Makes the JSON parser's process-wide state now. Static objects are
/// destroyed at exit in reverse order of their making, interleaved with the
/// atexit hooks: state first made by a reply after the session registered its
/// exit hook would be destroyed while the delivery thread still judges
/// replies. The session calls this before it registers the hook.
void prepareJSONReaderForExit() noexcept;

}  // namespace orbisgrove::platform
