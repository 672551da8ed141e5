// The process-wide session, its timers, and the sessions of their own. The
// transport is chosen once, when the shared session is made: the host's if
// one is installed, else the kit's own.
#include "platform/http/DeliveryTimers.hpp"
#include "platform/http/SessionCore.hpp"
#include "platform/http/Sessions.hpp"
#include "platform/http/SharedSessionSetup.hpp"

#include <utility>

namespace orbisgrove::platform {

http::SharedSessionSetup& http::sharedSetup() {
  static auto* setup = new SharedSessionSetup;  // never destroyed: used while the process exits
  return *setup;
}

URLSession& URLSession::shared() {
  // Never destroyed: completions may still be arriving while the process exits.
  static URLSession* const session = [] {
    auto& setup = http::sharedSetup();
    const std::lock_guard lock(setup.mutex);
    auto backend = setup.transport ? http::makeHostTransportBackend(setup.transport)
                                   : http::makeBuiltInBackend(nullptr, setup.configuration);
    setup.session = http::makeSession(std::move(backend), setup.configuration).release();
    return setup.session;
  }();
  return *session;
}

std::unique_ptr<URLSession> URLSession::make(URLSessionConfiguration configuration) {
  std::shared_ptr<const HTTPTransport> installed;
  {
    auto& setup = http::sharedSetup();
    const std::lock_guard lock(setup.mutex);
    installed = setup.transport;
  }
  auto backend = http::makeBuiltInBackend(std::move(installed), configuration);
  return http::makeSession(std::move(backend), std::move(configuration));
}

DeliveryTimers& sharedDeliveryTimers() { return http::coreOf(URLSession::shared()); }

}  // namespace orbisgrove::platform
