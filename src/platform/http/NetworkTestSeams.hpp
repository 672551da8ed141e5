// Test seams of the network layer: only tests call these.
#pragma once

#include "platform/http/URLSession.hpp"

#include <optional>

namespace orbisgrove::platform {

/// For tests of a session whose configuration is fixed (the shared one): no
/// request resumed from now on waits longer than `seconds`, like
/// URLSessionConfiguration::timeoutCap; std::nullopt removes the cap.
void setTimeoutCapForTesting(URLSession& session, std::optional<double> seconds);

}  // namespace orbisgrove::platform
