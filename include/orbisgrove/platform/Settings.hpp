// Platform settings a host application may make before its first request.
#pragma once

#include <orbisgrove/Export.hpp>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

/// How the kit's own (libcurl) session reaches servers, for every later
/// request. std::nullopt, the default: as libcurl does by itself, through the
/// proxy that the environment variable https_proxy (or HTTPS_PROXY, else
/// all_proxy or ALL_PROXY) names, except for the hosts that no_proxy (or
/// NO_PROXY) lists; http_proxy plays no part, as every request is https.
/// "": directly, whatever the environment says. Otherwise the proxy's URL
/// ("http://proxy.example:3128", "socks5h://127.0.0.1:1080"), used for every
/// host, no_proxy notwithstanding. A proxy that cannot be reached fails
/// requests with cannotConnectToHost (cannotFindHost when its name is
/// unknown).
ORBISGROVE_EXPORT void setProxy(std::optional<std::string> proxyURL);

/// Pins the public keys that the kit's own session accepts from servers,
/// for every later connection: each pin is "sha256//" and the base64 text of
/// the SHA-256 digest of a key's DER SubjectPublicKeyInfo. A server whose
/// certificate's key matches no pin fails the request with
/// serverCertificateUntrusted; the certificate chain is still verified too.
/// An empty list ends pinning. Returns false and changes nothing when a pin
/// is not of that form.
ORBISGROVE_EXPORT bool setPinnedPublicKeys(std::vector<std::string> pins);

/// Receives each console line of the kit, without line break. The default sink
/// writes the line to standard error. An empty function restores the default.
ORBISGROVE_EXPORT void setConsoleSink(std::function<void(std::string_view)> sink);

}  // namespace orbisgrove::platform
