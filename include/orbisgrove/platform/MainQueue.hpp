// The queue of the application's main thread, where every completion handler
// of a service request runs.
#pragma once

#include <orbisgrove/Export.hpp>

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>

namespace orbisgrove::platform {

/// First in, first out; each posted closure runs exactly once. A host either
/// drains the queue from its main thread (`drain`, `runUntil`) or installs a
/// dispatcher that hands each closure to its own event loop.
class ORBISGROVE_EXPORT MainQueue {
 public:
  /// One piece of work for the main thread.
  using Closure = std::function<void()>;
  /// Receives each posted closure and must run it, once, on the host's main
  /// thread. Called on the posting thread.
  using Dispatcher = std::function<void(Closure)>;

  /// The process-wide queue; created on first use and never destroyed.
  static MainQueue& shared();

  MainQueue();
  ~MainQueue();
  MainQueue(const MainQueue&) = delete;
  MainQueue& operator=(const MainQueue&) = delete;

  /// Adds a closure; callable from any thread. With a dispatcher installed the
  /// closure goes straight to it.
  void post(Closure closure);

  /// Runs what is pending now on the calling thread, which becomes the main
  /// thread; closures posted meanwhile wait for the next call. Returns how
  /// many ran.
  std::size_t drain();

  /// Runs closures on the calling thread as they arrive until `done()` holds
  /// or `timeout` has passed. Returns `done()`.
  bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

  /// Installs (or, with an empty function, removes) the host's dispatcher.
  /// Closures already pending are handed to it at once.
  void setDispatcher(Dispatcher dispatcher);

  /// Whether the calling thread is the main thread: the one draining the
  /// queue, or the one running a closure through the dispatcher.
  [[nodiscard]] bool isMainThread() const;

  /// Number of closures waiting to run.
  [[nodiscard]] std::size_t pendingCount() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace orbisgrove::platform
