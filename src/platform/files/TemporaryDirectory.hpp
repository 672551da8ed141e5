// The application's temporary directory.
#pragma once

#include <optional>
#include <string>

#include "platform/files/PrivateDirectory.hpp"

namespace orbisgrove::platform {

/// The directory, open: either the host's directory (setTemporaryDirectory)
/// or ${TMPDIR:-/tmp}/orbisgrove-<uid>/, created with mode 0700. Nothing when
/// it cannot be made or is not private (see PrivateDirectory). The host's
/// directory is never created here; an empty setting counts as none.
std::optional<PrivateDirectory> openTemporaryDirectory();

/// The path of openTemporaryDirectory(), ending with "/".
std::optional<std::string> temporaryDirectory();

}  // namespace orbisgrove::platform
