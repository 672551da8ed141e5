// Process-wide libcurl state: initialised once and never torn down.
#pragma once

#include <string>

namespace orbisgrove::platform::http {

/// Runs curl_global_init exactly once per process, and registers the exit
/// hook right after it, so that the hook runs before the cleanup OpenSSL
/// registers during that call. libcurl is never cleaned up: a host may still
/// be inside the kit while the process exits.
void ensureCurlGlobalInit();

/// Why the session cannot work with the libcurl it runs on (not initialised,
/// older than the kit needs, or on a TLS library other than OpenSSL, which
/// the trust code hands certificates to); null when it can. Initialises
/// libcurl first.
const std::string* curlSetUpProblem();

/// libcurl's built-in directory of system certificate authorities when it
/// holds OpenSSL's hashed links (one file per subject hash); null otherwise.
/// Looked up there, a connection reads only the authorities its chain names,
/// where the built-in bundle file has OpenSSL parse every authority the
/// system trusts first (most of a short-lived process's time).
const char* hashedSystemAuthorities();

}  // namespace orbisgrove::platform::http
