// The network layer's test seam, read by the session core's timeout policy.
#pragma once

#include <atomic>

namespace orbisgrove::platform::http {

/// A cap in seconds on the time-out of every request resumed from now on,
/// for tests of sessions whose configuration is fixed (the shared one), as
/// URLSessionConfiguration::timeoutCap. Zero unless a test sets it
/// (tests/support/TestSeams.hpp).
extern std::atomic<double> requestTimeoutCapForTests;

}  // namespace orbisgrove::platform::http
