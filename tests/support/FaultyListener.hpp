// A listener on 127.0.0.1 that misbehaves in ways the scripted HTTPS test
// service cannot (RST, not an orderly close, for resets). Each connection gets
// the same fault; they are handled one at a time, and quiet ones are held
// until the listener is destroyed.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace orbisgrove::testing {

class FaultyListener {
 public:
  enum class Fault {
    garbageInsteadOfTLS,    // reads the client's first bytes and answers with plain text
    closeDuringHandshake,   // reads the client's first bytes and closes
    silentHandshake,        // accepts and never answers: the client waits in the TLS handshake
    resetBeforeStatusLine,  // completes TLS, reads the whole request, then resets the connection
    resetInBody,            // completes TLS, sends the head (Content-Length 100000) and part of the body, then resets
    silentInBody,           // as resetInBody, but holds the connection open without sending more
    resetAfterRequestHead,  // completes TLS, reads the request head, then resets while the body still comes
    // A proxy (plain TCP) that answers CONNECT with 403, or with 407 and a challenge, and closes.
    proxyForbidsTunnel,
    proxyWantsCredentials,
  };

  /// Starts listening; throws std::runtime_error when it cannot.
  explicit FaultyListener(Fault fault);
  ~FaultyListener();
  FaultyListener(const FaultyListener&) = delete;
  FaultyListener& operator=(const FaultyListener&) = delete;

  /// "127.0.0.1:<port>".
  [[nodiscard]] std::string hostAndPort() const;
  /// PEM of the authority that signed the listener's certificate (TLS faults).
  [[nodiscard]] const std::string& caFile() const;
  /// Connections accepted so far.
  [[nodiscard]] std::size_t connectionCount() const;
  /// Waits until `count` connections have reached the fault; false after 10 s.
  bool waitForFaults(std::size_t count) const;

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace orbisgrove::testing
