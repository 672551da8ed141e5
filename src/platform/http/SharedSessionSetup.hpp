// What the process-wide session is made from: the host's transport and the
// settings made before its first use; after it, the session itself.
#pragma once

#include <orbisgrove/platform/HTTPTransport.hpp>

#include "platform/http/URLSession.hpp"

#include <memory>
#include <mutex>

namespace orbisgrove::platform::http {

struct SharedSessionSetup {
  std::mutex mutex;
  /// Null until URLSession::shared() is first used.
  URLSession* session = nullptr;
  std::shared_ptr<const HTTPTransport> transport;
  URLSessionConfiguration configuration;
};

/// The one setup of the process; never destroyed: used while the process exits.
SharedSessionSetup& sharedSetup();

}  // namespace orbisgrove::platform::http
