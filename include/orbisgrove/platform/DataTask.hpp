// A running or finished HTTP request of the platform session.
#pragma once

#include <orbisgrove/Export.hpp>
#include <orbisgrove/platform/URLRequest.hpp>

#include <cstdint>

namespace orbisgrove::platform {

/// One request of the session. Created suspended; `resume()` starts it. Its
/// completion runs exactly once, on the session's delivery thread, with the
/// body, the reply and the transport error it ended with. Safe to use from any
/// thread; the session keeps the task alive until its completion has run.
class ORBISGROVE_EXPORT DataTask {
 public:
  /// Where the task is in its life.
  enum class State {
    suspended,  ///< Created, not yet resumed.
    running,    ///< Resumed; the transfer is under way.
    canceling,  ///< cancel() was called; the completion has not run yet.
    completed,  ///< The transfer has ended; its completion runs or has run.
  };

  virtual ~DataTask() = default;
  DataTask() = default;
  DataTask(const DataTask&) = delete;
  DataTask& operator=(const DataTask&) = delete;

  /// Starts the transfer. A later call, or a call after cancel(), does nothing.
  virtual void resume() = 0;
  /// Ends the transfer if it has not completed yet: the completion then runs
  /// once with no body and the cancelled error (code -999). A task cancelled
  /// before resume() completes without touching the network. Does nothing
  /// once the task has completed.
  virtual void cancel() = 0;

  /// The task's current state; may change on another thread right after.
  [[nodiscard]] virtual State state() const = 0;
  /// The request the task was created with.
  [[nodiscard]] virtual const URLRequest& originalRequest() const = 0;
  /// Unique within the process.
  [[nodiscard]] virtual std::uint64_t taskIdentifier() const = 0;
};

}  // namespace orbisgrove::platform
