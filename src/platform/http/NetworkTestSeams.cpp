#include "platform/http/NetworkTestSeams.hpp"

#include "platform/http/SessionCore.hpp"
#include "platform/http/Sessions.hpp"

namespace orbisgrove::platform {

void setTimeoutCapForTesting(URLSession& session, std::optional<double> seconds) {
  http::coreOf(session).setTestTimeoutCap(seconds);
}

}  // namespace orbisgrove::platform
