// What a transport does for the session core: start a task's request, stop
// it, and wait for its transfers on the delivery thread. The core keeps the
// tasks, their lines and their ends; a backend tells it when a transfer ends.
#pragma once

#include <orbisgrove/platform/HTTPTransport.hpp>

#include "platform/http/DeliveryLoop.hpp"
#include "platform/http/URLSession.hpp"

#include <cstddef>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orbisgrove::platform::http {

class SessionCore;
class SessionDataTask;

/// Waits for the transport on the delivery thread (DeliveryWaiter), and
/// does the rest of the transport's work there.
class SessionBackend : public DeliveryWaiter {
 public:
  /// Called once by the core that owns the backend, before anything else.
  void attach(SessionCore& core) { core_ = &core; }

  // Any thread.

  /// Why no request can go out at all, asked when a task resumes; null when they can.
  [[nodiscard]] virtual const std::string* unusable() { return nullptr; }
  /// Transfers the backend takes per origin at once; more wait in the core's line.
  [[nodiscard]] virtual std::size_t admittedPerOrigin() const { return std::numeric_limits<std::size_t>::max(); }
  /// The session's settings for later requests (URLSession's); a host's
  /// transport decides these itself.
  virtual void addTrustedCertificates(const std::string& /*pemFile*/) {}
  virtual void setProxy(std::optional<std::string> /*proxy*/) {}
  virtual void setPinnedPublicKeys(const std::vector<std::string>& /*pins*/) {}

  // On the delivery thread.

  /// Hands the task to the transport, which ends it through SessionCore::end;
  /// false when the backend ended it at once instead.
  virtual bool start(const std::shared_ptr<SessionDataTask>& task) = 0;
  /// Ends a task the transport has as cancelled, stopping its transfer: the
  /// task was cancelled, or the session closes.
  virtual void cancel(const std::shared_ptr<SessionDataTask>& task) = 0;
  /// Moves the transfers on, ending those that are done; returns when it
  /// wants the next turn at the latest.
  virtual Clock::time_point perform() = 0;
  /// The process exits: what the transport must not begin now ends.
  virtual void beginDrain() = 0;

 protected:
  SessionCore& core() { return *core_; }

 private:
  SessionCore* core_ = nullptr;
};

/// A backend on a host's transport. Without a transport every request fails
/// at once (cannotLoadFromNetwork). Its trust, proxy and pin settings are the
/// transport's business.
std::unique_ptr<SessionBackend> makeHostTransportBackend(std::shared_ptr<const HTTPTransport> transport);

/// The kit's own backend: libcurl's in a build with libcurl, else one on
/// `installed` (the host's transport, or none).
std::unique_ptr<SessionBackend> makeBuiltInBackend(std::shared_ptr<const HTTPTransport> installed,
                                                   const URLSessionConfiguration& configuration);

}  // namespace orbisgrove::platform::http
