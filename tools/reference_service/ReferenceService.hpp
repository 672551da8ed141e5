// A small HTTPS service on the loopback interface that speaks the map
// service's protocol: operation 712 (report categories) and operation 705
// (save a report) on POST /explore-api/v1.2/. The command-line tool serves it,
// its demo embeds it, and end-to-end tests run the kit against it.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ReportStore.hpp"

namespace orbisgrove::tools {

class ExploreEndpoint;

struct ReferenceServiceOptions {
  /// An IPv4 or IPv6 address (or "localhost"). A wildcard ("0.0.0.0", "::")
  /// listens everywhere but is announced as the loopback address, the only
  /// one the certificate vouches for besides an explicitly given bind address.
  std::string bindAddress = "127.0.0.1";
  /// 0 picks a free port.
  std::uint16_t port = 0;
  /// Where the CA and server certificate are written. Empty: a fresh private
  /// temporary directory, removed when the service object is destroyed.
  std::string certificateDirectory;
  /// Empty: reports are kept in memory only.
  std::string storeFile;
  /// Accepted submissions per client and window; at least 1.
  std::size_t submissionsPerInterval = 30;
  /// Window length; at least one second.
  std::chrono::seconds rateInterval{60};
  /// What follows a stored report instead of its "201" reply: nothing
  /// (the reply), a dropped connection (the reply's head, then the connection
  /// closes before its body), or a reply held until the service stops.
  enum class AfterStore { reply, failConnection, stall };
  AfterStore afterStore = AfterStore::reply;
  /// Empty: the system clock. Tests inject one to cross rate windows.
  std::function<std::chrono::system_clock::time_point()> clock;
};

/// start() and stop() belong to one controlling thread; the other members may
/// be called from any thread.
class ReferenceService {
 public:
  explicit ReferenceService(ReferenceServiceOptions options = {});
  ~ReferenceService();
  ReferenceService(const ReferenceService&) = delete;
  ReferenceService& operator=(const ReferenceService&) = delete;

  /// Makes fresh certificates, opens the store, binds and returns once the
  /// service accepts connections. Throws std::invalid_argument for unusable
  /// options and std::runtime_error when the certificates, the store file or
  /// the address cannot be had (the message says which). Also sets SIGPIPE
  /// to be ignored if it still has its default action, since a client that
  /// hangs up mid-reply must not end the process. Throws std::logic_error
  /// when already running; after stop() it may be started again.
  void start();
  /// Stops listening, finishes the requests in progress and joins the server
  /// threads. Does nothing when not running.
  void stop();
  bool isRunning() const;

  /// The bound port; 0 before the first start().
  std::uint16_t port() const;
  /// "127.0.0.1:PORT", or "[::1]:PORT" for IPv6.
  std::string hostAndPort() const;
  /// "https://HOST:PORT/explore-api/v1.2/"
  std::string serviceUrl() const;
  /// PEM file of the CA a client must trust; empty before the first start().
  std::string caCertificateFile() const;

  /// Reports accepted so far (including those read from the store file).
  std::size_t reportCount() const;
  std::vector<StoredReport> reports() const;

 private:
  struct Server;

  const ReferenceServiceOptions options_;
  mutable std::mutex mutex_;
  std::unique_ptr<Server> server_;
  std::thread listener_;
  std::shared_ptr<ExploreEndpoint> endpoint_;
  std::uint16_t port_ = 0;
  std::string caCertificateFile_;
  std::string ownedDirectory_;
};

}  // namespace orbisgrove::tools
