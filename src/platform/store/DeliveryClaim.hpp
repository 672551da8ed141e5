// The claim to deliver: an exclusive flock() on a lock file beside the store,
// held by one process at a time and dropped by the kernel when it dies.
#pragma once

#include <orbisgrove/platform/Error.hpp>

#include <memory>
#include <string>
#include <variant>

#include "platform/core/ProcessLifecycle.hpp"

namespace orbisgrove::platform {

class DeliveryClaim {
 public:
  /// What take() found.
  enum class Taken { no, held, newly };

  explicit DeliveryClaim(std::string path) : path_(std::move(path)) {}
  ~DeliveryClaim() { release(); }
  DeliveryClaim(const DeliveryClaim&) = delete;
  DeliveryClaim& operator=(const DeliveryClaim&) = delete;

  /// Takes the lock without waiting, or checks that the one held is still on
  /// the file at the path: a lock file removed or replaced since lets another
  /// process lock the new one, so a lock on the old file is given up and the
  /// new one tried. `no` while another holds it; an error when the file
  /// cannot be opened. Not thread-safe: the caller serialises.
  std::variant<Taken, std::shared_ptr<const Error>> take();
  /// Gives the lock up (closing the file drops it).
  void release();

 private:
  std::string path_;
  int file_ = -1;
  ProcessOwner owner_;
};

}  // namespace orbisgrove::platform
