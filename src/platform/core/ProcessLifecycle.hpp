// The life of the process as the kit's threads see it: whether it has begun
// to exit, whether the caller is a child that fork() made, and the one exit
// hook that winds the kit's threads down before the process's exit-time
// cleanup pulls the ground from under them.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include <sys/types.h>
#include <unistd.h>

namespace orbisgrove::platform {

/// How long the exit hook lets the kit's threads finish what is under way,
/// in all: past it the process exits anyway.
inline constexpr std::chrono::milliseconds kExitBudget{1500};

/// True once the process has begun to exit (the kit's exit hook ran): from
/// then on nothing new starts.
bool processExiting() noexcept;
/// Says that the process has begun to exit; the exit hook calls it first.
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

/// Runs `handler` in each child that fork() makes from now on, right after
/// the fork and before fork() returns there, in the order registered. The
/// child of a threaded process may only do what is async-signal-safe, and
/// so may `handler` (close descriptors the parent's state owns, say).
void runInForkedChild(void (*handler)());

/// Something with a thread that must wind down at exit, before the
/// exit-time cleanup of the libraries it uses (OpenSSL's above all).
class ExitParticipant {
 public:
  virtual ~ExitParticipant() = default;
  /// Nothing new starts from now on; work under way may go on until
  /// `drainUntil`. Must not block. Runs on the thread that exits.
  virtual void beginExitStop(std::chrono::steady_clock::time_point drainUntil) = 0;
  /// Returns once the thread has finished what was under way, or by
  /// `deadline` at the latest; from then on the thread touches nothing that
  /// the exit-time cleanup tears down. Runs on the thread that exits.
  virtual void finishExitStop(std::chrono::steady_clock::time_point deadline) = 0;
};

/// Stops `participant` when this process exits, unless it has been
/// destroyed by then (a forked child's exit leaves it alone). Registers the
/// exit hook on first use.
void stopAtExit(std::weak_ptr<ExitParticipant> participant);

/// Registers the exit hook (again) with atexit, so that it runs before every
/// exit-time cleanup registered until now: atexit runs hooks in reverse
/// order. Whatever registers cleanup the hook must precede calls it right
/// after (curl_global_init registers OpenSSL's); the latest registration
/// runs the hook, earlier ones find it done. The JSON reader's process-wide
/// state is made first, so it outlives the hook.
void registerExitHook();

/// What ExitParticipant::finishExitStop does for a delivery thread that was
/// asked to stop: waits on `changed` (with `lock` held on the mutex it goes
/// with) until `drainUntil` for `ended`; if it has not, calls `stopNow`,
/// which tells the thread to stop touching anything at once, and waits on
/// until `deadline`. Joins `thread` once it has ended; leaves it behind
/// otherwise (stuck in a handler, say): the process must not hang on it.
/// Returns with `lock` released.
void awaitThreadAtExit(std::thread thread, std::unique_lock<std::mutex>& lock, std::condition_variable& changed,
                       const std::function<bool()>& ended, const std::function<void()>& stopNow,
                       std::chrono::steady_clock::time_point drainUntil,
                       std::chrono::steady_clock::time_point deadline);

/// A test seam: run by the exit hook once every participant has been told
/// that the process exits, before the hook waits for them. Null unless a
/// test sets it (tests/support/TestSeams.hpp).
extern std::atomic<void (*)()> exitObserverForTests;

}  // namespace orbisgrove::platform
