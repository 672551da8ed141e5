// Without libcurl the kit's own backend is the host's transport.
#include "platform/http/SessionBackend.hpp"

#include <utility>

namespace orbisgrove::platform::http {

std::unique_ptr<SessionBackend> makeBuiltInBackend(std::shared_ptr<const HTTPTransport> installed,
                                                   const URLSessionConfiguration& /*configuration*/) {
  return makeHostTransportBackend(std::move(installed));
}

}  // namespace orbisgrove::platform::http
