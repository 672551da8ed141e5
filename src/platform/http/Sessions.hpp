// The platform sessions: a session core on a backend behind URLSession.
#pragma once

#include <orbisgrove/platform/HTTPTransport.hpp>

#include "platform/http/SessionBackend.hpp"
#include "platform/http/URLSession.hpp"

#include <memory>

namespace orbisgrove::platform::http {

class SessionCore;

/// A session of its own on `backend`, with its own delivery thread.
std::unique_ptr<URLSession> makeSession(std::unique_ptr<SessionBackend> backend, URLSessionConfiguration configuration);

/// A session on a host's transport (makeHostTransportBackend). The
/// configuration's time-out cap and body limit apply.
std::unique_ptr<URLSession> makeHostTransportSession(std::shared_ptr<const HTTPTransport> transport,
                                                     URLSessionConfiguration configuration);

/// The core of a session made here; every URLSession is one.
SessionCore& coreOf(URLSession& session);

}  // namespace orbisgrove::platform::http
