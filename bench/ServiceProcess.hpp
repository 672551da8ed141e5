// The local HTTPS test service, run in a child process so that its threads,
// buffers and TLS state never show up in the benchmark's own memory figures
// and its CPU time is not mistaken for the client's. Both sides of every
// comparison talk to this one service.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace orbisgrove::bench {

/// What the service answers; the same bytes for the kit and for raw libcurl.
struct ServiceReplies {
  /// The answer to the categories operation ("q=712...").
  std::string categories;
  /// The answer to a submission ("q=705...").
  std::string submission;
};

class ServiceProcess {
 public:
  /// Forks the service. Call before any thread exists in this process.
  static void start(ServiceReplies replies);
  /// The running service; start() must have been called.
  static ServiceProcess& shared();

  [[nodiscard]] const std::string& hostAndPort() const { return hostAndPort_; }
  [[nodiscard]] std::string url(const std::string& path) const { return "https://" + hostAndPort_ + path; }
  [[nodiscard]] const std::string& caFile() const { return caFile_; }

  [[nodiscard]] std::uint64_t requestCount();
  [[nodiscard]] std::uint64_t handshakeCount();
  /// Distinct connections that requests number `first` onwards came on.
  [[nodiscard]] std::uint64_t connectionsSince(std::uint64_t first);
  /// While on, every request is held until releaseStalled().
  void setStalling(bool on);
  void releaseStalled();
  /// Waits (up to 10 s) until `count` requests are held at once.
  bool waitForStalled(std::uint64_t count);
  /// Stops the child and waits for it.
  void stop();

 private:
  std::uint64_t ask(const std::string& command);

  int commands_ = -1;
  int answers_ = -1;
  int child_ = -1;
  std::string hostAndPort_;
  std::string caFile_;
};

/// Resident set size of this process now, and its peak since the last
/// resetPeakResidentBytes(), in bytes.
std::size_t residentBytes();
std::size_t peakResidentBytes();
void resetPeakResidentBytes();

/// `{"response":"201","data":[...]}` with `count` categories shaped like the
/// service's tree, and the bare JSON array of the same categories.
std::string categoriesReply(std::size_t count);
std::string categoriesArray(std::size_t count);
/// A submission's success reply.
std::string submissionReply();

}  // namespace orbisgrove::bench
