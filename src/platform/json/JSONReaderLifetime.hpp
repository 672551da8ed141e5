// Keeps the JSON reader usable until the kit's exit hook has stopped the
// delivery threads, which judge replies while the process exits.
#pragma once

namespace orbisgrove::platform {

/// Makes the JSON parser's process-wide state now. Static objects are
/// destroyed at exit in reverse order of their making, interleaved with the
/// atexit hooks: state first made by a reply after the exit hook was
/// registered would be destroyed while a delivery thread still judges
/// replies. registerExitHook calls this before it registers the hook.
void prepareJSONReaderForExit() noexcept;

}  // namespace orbisgrove::platform
