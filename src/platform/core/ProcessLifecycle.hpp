// The life of the process as the kit's threads see it: whether it has begun
// to exit, and whether the caller is a child that fork() made.
#pragma once

#include <sys/types.h>
#include <unistd.h>

namespace orbisgrove::platform {

/// True once the process has begun to exit (the kit's exit hook ran): from
/// then on nothing new starts.
bool processExiting() noexcept;
/// Says that the process has begun to exit; called by the exit hooks.
void markProcessExiting() noexcept;

/// The process that made an object. A child made by fork() is another
/// process: the object's threads are not there, and its locks may be held
/// for ever by a thread that no longer exists.
class ProcessOwner {
 public:
  [[nodiscard]] bool inForkedChild() const noexcept { return ::getpid() != owner_; }

 private:
  pid_t owner_ = ::getpid();
};

}  // namespace orbisgrove::platform
