// A listener on 127.0.0.1 that misbehaves in ways the scripted HTTPS test
// service cannot: it answers TLS with garbage, hangs up in the middle of the
// handshake, resets the TCP connection (RST, not an orderly close) before the
// status line or part way through the body, or goes quiet in the handshake or
// the body. Each connection gets the same fault; they are handled one at a
// time, and quiet ones are held until the listener is destroyed.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace orbisgrove::testing {

class FaultyListener {
 public:
  enum class Fault {
    /// Reads the client's first bytes and answers with plain text.
    garbageInsteadOfTLS,
    /// Reads the client's first bytes and closes.
    closeDuringHandshake,
    /// Accepts and never answers: the client waits in the TLS handshake.
    silentHandshake,
    /// Completes TLS, reads the request, then resets the connection.
    resetBeforeStatusLine,
    /// Completes TLS, sends the head (Content-Length 100000) and part of the
    /// body, then resets the connection.
    resetInBody,
    /// Completes TLS, sends the head and part of the body, then holds the
    /// connection open without sending more.
    silentInBody,
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
