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
  /// thread. Called on a posting thread, one call at a time, in posting
  /// order. If it throws, the closure it refused and those after it stay
  /// queued, in order, for the next post, dispatcher or drain, and one
  /// console line says so.
  using Dispatcher = std::function<void(Closure)>;

  /// The process-wide queue; created on first use and never destroyed.
  static MainQueue& shared();

  MainQueue();
  ~MainQueue();
  MainQueue(const MainQueue&) = delete;
  MainQueue& operator=(const MainQueue&) = delete;

  /// Adds a closure; callable from any thread. With a dispatcher installed the
  /// closure goes to it on this thread, or on the thread already handing
  /// older closures to it. Never throws for a failing dispatcher.
  void post(Closure closure);

  /// Runs what is pending now on the calling thread, which becomes the main
  /// thread; closures posted meanwhile wait for the next call. Returns how
  /// many ran.
  std::size_t drain();

  /// Runs closures on the calling thread as they arrive until `done()` holds
  /// or `timeout` has passed. Returns `done()`.
  bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

  /// Installs (or, with an empty function, removes) the host's dispatcher.
  /// Closures already pending are handed to it at once, ahead of any posted
  /// later. Returns only once no other thread is inside the dispatcher it
  /// replaces, so the host may then free what that one used; a dispatcher
  /// (or a closure it runs) may replace itself without waiting for itself,
  /// but must not wait for a thread that is replacing it.
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
