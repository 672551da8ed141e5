// The sessions behind URLSession::shared() and URLSession::make().
#pragma once

#include <orbisgrove/platform/HTTPTransport.hpp>

#include "platform/http/URLSession.hpp"

#include <cstdint>
#include <memory>

namespace orbisgrove::platform::http {

/// The next task identifier, unique within the process across all sessions.
std::uint64_t nextTaskIdentifier();

#if ORBISGROVE_WITH_CURL
/// The kit's own session, on libcurl's multi interface.
std::unique_ptr<URLSession> makeCurlSession(URLSessionConfiguration configuration);
#endif

/// A session on a host's transport, with a delivery thread of its own (a
/// queue and timers) that runs every completion and timer. Without a
/// transport every request fails at once (cannotLoadFromNetwork). The
/// configuration's time-out cap applies; its trust, proxy and pin settings
/// are the transport's business.
std::unique_ptr<URLSession> makeHostTransportSession(std::shared_ptr<const HTTPTransport> transport,
                                                     URLSessionConfiguration configuration);

}  // namespace orbisgrove::platform::http
