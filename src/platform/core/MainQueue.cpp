// Every closure, with or without a dispatcher, passes through one first-in,
// first-out list. With a dispatcher installed, one posting thread at a time
// hands the list's front to it, so a closure handed over never overtakes an
// older one, and removing the dispatcher can wait for the call in progress.
#include <orbisgrove/platform/MainQueue.hpp>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include <sys/syscall.h>
#include <unistd.h>

#include "platform/core/Console.hpp"

namespace orbisgrove::platform {
namespace {

// Depth of closures that a dispatcher is running on this thread.
thread_local int dispatchedDepth = 0;

bool isProcessInitialThread() { return static_cast<pid_t>(::syscall(SYS_gettid)) == ::getpid(); }

// One posted closure. It may be reachable twice, from the dispatcher that
// took it and from the list again when that dispatcher failed: whoever
// claims it first runs it, so it still runs once.
struct Task {
  explicit Task(MainQueue::Closure c) : closure(std::move(c)) {}
  MainQueue::Closure closure;
  std::atomic<bool> claimed{false};

  void run() {
    if (claimed.exchange(true)) return;
    // Released here, on the running thread, with what it captured.
    const MainQueue::Closure running = std::move(closure);
    running();
  }
};

}  // namespace

struct MainQueue::State {
  struct Installed {
    explicit Installed(Dispatcher d) : dispatch(std::move(d)) {}
    const Dispatcher dispatch;
    std::size_t callsInFlight = 0;  // under mutex
  };

  mutable std::mutex mutex;
  std::condition_variable arrived;
  std::condition_variable callReturned;
  std::deque<std::shared_ptr<Task>> pending;
  std::shared_ptr<Installed> dispatcher;
  // A thread is handing pending closures to the dispatcher; others only queue.
  bool handing = false;
  // The thread that drains the queue; until one does, the process's initial thread.
  std::atomic<std::thread::id> drainingThread{};

  // The dispatcher calls this thread is inside, innermost first, so that
  // removing a dispatcher from within its own call does not wait for itself.
  struct Call {
    const Installed* installed;
    const Call* outer;
  };
  static const Call*& innermostCall() {
    thread_local const Call* innermost = nullptr;
    return innermost;
  }
  static std::size_t callsOnThisThread(const Installed* installed) {
    std::size_t count = 0;
    for (const Call* call = innermostCall(); call != nullptr; call = call->outer) {
      if (call->installed == installed) ++count;
    }
    return count;
  }

  static Closure wrapForDispatcher(const std::shared_ptr<Task>& task) {
    return [task] {
      ++dispatchedDepth;
      struct Leave {
        ~Leave() { --dispatchedDepth; }
      } leave;
      task->run();
    };
  }

  // Called with the lock held; returns with it held.
  void handOver(std::unique_lock<std::mutex>& lock) {
    if (handing) return;  // the thread already at it takes these too, in order
    handing = true;
    struct Done {
      bool& flag;
      ~Done() { flag = false; }
    } done{handing};
    while (dispatcher && !pending.empty()) {
      const std::shared_ptr<Installed> installed = dispatcher;
      std::shared_ptr<Task> task = std::move(pending.front());
      pending.pop_front();
      ++installed->callsInFlight;
      lock.unlock();
      bool refused = false;
      const Call call{installed.get(), innermostCall()};
      innermostCall() = &call;
      try {
        installed->dispatch(wrapForDispatcher(task));
      } catch (...) {
        // A dispatcher that ran the closure at once may pass on what it threw.
        refused = !task->claimed.load();
        // The poster must not be thrown at (it is often the delivery thread).
        consoleLineForCurrentException(refused ? "the main queue's dispatcher failed; its closures stay queued"
                                               : "a closure of the main queue failed");
      }
      innermostCall() = call.outer;
      lock.lock();
      --installed->callsInFlight;
      callReturned.notify_all();
      if (refused) {
        // Kept at the front, in order, for the next post, dispatcher or drain.
        pending.push_front(std::move(task));
        break;
      }
    }
    if (!dispatcher && !pending.empty()) arrived.notify_all();
  }

  std::shared_ptr<Task> takeFront() {
    std::shared_ptr<Task> task = std::move(pending.front());
    pending.pop_front();
    return task;
  }
};

MainQueue& MainQueue::shared() {
  static auto* queue = new MainQueue;  // never destroyed: posts during exit stay safe
  return *queue;
}

MainQueue::MainQueue() : state_(std::make_unique<State>()) {}
MainQueue::~MainQueue() = default;

void MainQueue::post(Closure closure) {
  if (!closure) return;
  auto task = std::make_shared<Task>(std::move(closure));
  std::unique_lock lock(state_->mutex);
  state_->pending.push_back(std::move(task));
  if (state_->dispatcher) {
    state_->handOver(lock);
    return;
  }
  lock.unlock();
  state_->arrived.notify_all();
}

std::size_t MainQueue::drain() {
  state_->drainingThread.store(std::this_thread::get_id());
  std::deque<std::shared_ptr<Task>> batch;
  {
    const std::lock_guard lock(state_->mutex);
    batch.swap(state_->pending);
  }
  std::size_t ran = 0;
  while (!batch.empty()) {
    const std::shared_ptr<Task> task = std::move(batch.front());
    batch.pop_front();
    ++ran;
    try {
      task->run();
    } catch (...) {
      // Keep FIFO order for what this drain had not run yet, then let the
      // host see its own exception.
      const std::lock_guard lock(state_->mutex);
      while (!batch.empty()) {
        state_->pending.push_front(std::move(batch.back()));
        batch.pop_back();
      }
      throw;
    }
  }
  return ran;
}

bool MainQueue::runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  state_->drainingThread.store(std::this_thread::get_id());
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    std::shared_ptr<Task> task;
    {
      std::unique_lock lock(state_->mutex);
      if (!state_->arrived.wait_until(lock, deadline, [&] { return !state_->pending.empty(); })) return done();
      task = state_->takeFront();
    }
    task->run();
  }
  return true;
}

void MainQueue::setDispatcher(Dispatcher dispatcher) {
  auto installed = dispatcher ? std::make_shared<State::Installed>(std::move(dispatcher)) : nullptr;
  std::unique_lock lock(state_->mutex);
  const std::shared_ptr<State::Installed> previous = std::exchange(state_->dispatcher, std::move(installed));
  if (previous) {
    // The host may free what the old dispatcher uses once this returns.
    const std::size_t ownCalls = State::callsOnThisThread(previous.get());
    state_->callReturned.wait(lock, [&] { return previous->callsInFlight <= ownCalls; });
  }
  if (state_->dispatcher) {
    state_->handOver(lock);
  } else if (!state_->pending.empty()) {
    state_->arrived.notify_all();
  }
}

bool MainQueue::isMainThread() const {
  if (dispatchedDepth > 0) return true;
  const std::thread::id drainer = state_->drainingThread.load();
  if (drainer != std::thread::id{}) return drainer == std::this_thread::get_id();
  return isProcessInitialThread();
}

std::size_t MainQueue::pendingCount() const {
  const std::lock_guard lock(state_->mutex);
  return state_->pending.size();
}

}  // namespace orbisgrove::platform
