// A flock() lock belongs to the open file description, which a child made by
// fork() shares: unlocking there would end the parent's claim, and a child
// that outlives its parent would keep the claim while it keeps the
// descriptor. So a child only closes its copies, at once after fork(), and
// never unlocks.
#include "platform/store/DeliveryClaim.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <mutex>

#include "platform/core/KitError.hpp"

namespace orbisgrove::platform {
namespace {

// The descriptors that hold a claim now, each plus one (0: an empty slot).
std::array<std::atomic<int>, 32> heldFiles{};

void closeCopiesInChild() {
  for (auto& slot : heldFiles) {
    const int file = slot.exchange(0) - 1;
    if (file >= 0) ::close(file);
  }
}

void remember(int file) {
  static std::once_flag registered;
  std::call_once(registered, [] { runInForkedChild(closeCopiesInChild); });
  for (auto& slot : heldFiles) {
    int expected = 0;
    if (slot.compare_exchange_strong(expected, file + 1)) return;
  }
}

void forget(int file) {
  for (auto& slot : heldFiles) {
    int expected = file + 1;
    if (slot.compare_exchange_strong(expected, 0)) return;
  }
}

bool sameFile(int file, const std::string& path) {
  struct stat open {};
  struct stat named {};
  return ::fstat(file, &open) == 0 && ::lstat(path.c_str(), &named) == 0 && open.st_dev == named.st_dev &&
         open.st_ino == named.st_ino;
}

std::shared_ptr<const Error> claimError(const std::string& what) { return kitError("The outbox store " + what); }

}  // namespace

std::variant<DeliveryClaim::Taken, std::shared_ptr<const Error>> DeliveryClaim::take() {
  if (owner_.inForkedChild()) return claimError("belongs to the process that opened it, not to a child of fork()");
  if (file_ >= 0) {
    if (sameFile(file_, path_)) return Taken::held;
    release();
  }
  // Another process may swap the file between our open and our lock; a few
  // rounds settle it, and more would only mean someone keeps swapping it.
  for (int round = 0; round < 4; ++round) {
    const int file = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (file < 0) return claimError("cannot open its lock file " + path_);
    if (::flock(file, LOCK_EX | LOCK_NB) != 0) {
      const int failure = errno;
      ::close(file);
      if (failure == EWOULDBLOCK) return Taken::no;
      return claimError("cannot lock its lock file " + path_);
    }
    if (sameFile(file, path_)) {
      file_ = file;
      remember(file);
      return Taken::newly;
    }
    ::close(file);
  }
  return Taken::no;
}

void DeliveryClaim::release() {
  if (file_ < 0 || owner_.inForkedChild()) return;  // a child's copy is closed at fork
  forget(file_);
  ::close(file_);  // closing drops the lock
  file_ = -1;
}

}  // namespace orbisgrove::platform
