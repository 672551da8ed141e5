// Process-wide libcurl state: initialised once, never torn down, and the
// orderly stop of delivery threads when the process exits.
#pragma once

#include <chrono>
#include <memory>
#include <string>

namespace orbisgrove::platform::http {

/// Runs curl_global_init exactly once per process. libcurl is never cleaned
/// up: a host may still be inside the kit while the process exits.
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

/// Something with a thread that must be stopped before the process's
/// exit-time cleanup (OpenSSL's above all) pulls the ground from under it.
class ExitParticipant {
 public:
  virtual ~ExitParticipant() = default;
  /// Asks the thread to stop without running anything further; must not block.
  virtual void beginExitStop() = 0;
  /// Waits for the thread until `deadline` at most.
  virtual void finishExitStop(std::chrono::steady_clock::time_point deadline) = 0;
};

/// Stops `participant` at process exit, unless it has been destroyed by then.
/// The exit hook is installed right after curl_global_init, so it runs before
/// the cleanup that OpenSSL registers during that call.
void stopAtExit(std::weak_ptr<ExitParticipant> participant);

}  // namespace orbisgrove::platform::http
