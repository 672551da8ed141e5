// A host's transport, installed before the shared session is made.
#include <orbisgrove/platform/HTTPTransport.hpp>

#include "platform/core/KitError.hpp"
#include "platform/http/SharedSessionSetup.hpp"

#include <utility>

namespace orbisgrove::platform {

std::shared_ptr<const Error> installHTTPTransport(HTTPTransport transport) {
  if (!transport.start) return kitError("The HTTPS transport has no start function.");
  auto& setup = http::sharedSetup();
  const std::lock_guard lock(setup.mutex);
  if (setup.session != nullptr) {
    return kitError(
        "The HTTPS transport cannot change any more: the kit's session has been used already. Install the transport "
        "before the first request and before the outbox is first used.");
  }
  setup.transport = std::make_shared<const HTTPTransport>(std::move(transport));
  return nullptr;
}

}  // namespace orbisgrove::platform
