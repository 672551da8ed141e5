// The directory that keeps the kit's lasting data (the outbox's store).
#pragma once

#include <orbisgrove/platform/Error.hpp>

#include <memory>
#include <string>
#include <variant>

namespace orbisgrove::platform {

/// The data directory's path, without a trailing "/": the host's
/// (setDataDirectory) or $XDG_DATA_HOME/orbisgrove-feedback, else
/// $HOME/.local/share/orbisgrove-feedback. Created (0700) when missing; an
/// error when it cannot be made or is not safe: a link, not a directory, not
/// this user's, or open to group or others (made private when only readable).
std::variant<std::string, std::shared_ptr<const Error>> dataDirectory();

}  // namespace orbisgrove::platform
