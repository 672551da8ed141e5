// The application's temporary directory.
#pragma once

#include <optional>
#include <string>

namespace orbisgrove::platform {

/// The directory's path, ending with "/". Either the host's directory
/// (setTemporaryDirectory) or ${TMPDIR:-/tmp}/orbisgrove-<uid>/, created with
/// mode 0700. Nothing when the directory cannot be made or is not safe: not a
/// real directory (a symlink), not owned by this user, or writable by group or
/// others. The host's directory must pass the same checks but is never
/// created here; an empty setting counts as none.
std::optional<std::string> temporaryDirectory();

}  // namespace orbisgrove::platform
