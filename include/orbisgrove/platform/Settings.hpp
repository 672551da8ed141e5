// Platform settings a host application may make before its first request.
#pragma once

#include <orbisgrove/Export.hpp>

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace orbisgrove::platform {

/// Uses `directory` (a directory the application owns, such as a mobile app's
/// cache directory) as the temporary directory; the kit adds the trailing "/".
/// Without this call the kit uses a private directory under $TMPDIR (or /tmp).
ORBISGROVE_EXPORT void setTemporaryDirectory(std::string directory);

/// Uses `directory` (one the application owns and keeps, never a cache) for
/// the kit's lasting data, such as the outbox's store. It is created when
/// missing and must be a real directory of this user, private (0700). Without
/// this call the kit uses $XDG_DATA_HOME/orbisgrove-feedback, else
/// $HOME/.local/share/orbisgrove-feedback. Takes effect when the outbox first
/// opens its store.
ORBISGROVE_EXPORT void setDataDirectory(std::string directory);

/// The application's identity, sent with each submitted report. None by default.
ORBISGROVE_EXPORT void setBundleIdentifier(std::optional<std::string> bundleIdentifier);

/// Trusts the certificate authorities of a PEM file in addition to the
/// system's store, for every later request of the shared session.
ORBISGROVE_EXPORT void addTrustedCertificates(std::string pemFile);

/// Receives each console line of the kit, without line break. The default sink
/// writes the line to standard error. An empty function restores the default.
ORBISGROVE_EXPORT void setConsoleSink(std::function<void(std::string_view)> sink);

}  // namespace orbisgrove::platform
