// The host application's identity and the settings it made for the platform.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace orbisgrove::platform {

/// The bundle identifier the host set; none by default.
std::optional<std::string> mainBundleIdentifier();
/// The directory the host set with setTemporaryDirectory(), if any.
std::optional<std::string> temporaryDirectoryOverride();
/// The directory the host set with setDataDirectory(), if any.
std::optional<std::string> dataDirectoryOverride();

}  // namespace orbisgrove::platform
