#include <orbisgrove/platform/MainQueue.hpp>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

#include <sys/syscall.h>
#include <unistd.h>

namespace orbisgrove::platform {
namespace {

// Depth of closures that a dispatcher is running on this thread.
thread_local int dispatchedDepth = 0;

bool isProcessInitialThread() { return static_cast<pid_t>(::syscall(SYS_gettid)) == ::getpid(); }

}  // namespace

struct MainQueue::State {
  mutable std::mutex mutex;
  std::condition_variable arrived;
  std::deque<Closure> pending;
  std::shared_ptr<const Dispatcher> dispatcher;
  // The thread that drains the queue; until one does, the process's initial thread.
  std::atomic<std::thread::id> drainingThread{};

  Closure wrapForDispatcher(Closure closure) {
    return [closure = std::move(closure)]() mutable {
      ++dispatchedDepth;
      struct Leave {
        ~Leave() { --dispatchedDepth; }
      } leave;
      closure();
    };
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
  std::unique_lock lock(state_->mutex);
  if (auto dispatcher = state_->dispatcher) {
    lock.unlock();
    (*dispatcher)(state_->wrapForDispatcher(std::move(closure)));
    return;
  }
  state_->pending.push_back(std::move(closure));
  lock.unlock();
  state_->arrived.notify_all();
}

std::size_t MainQueue::drain() {
  state_->drainingThread.store(std::this_thread::get_id());
  std::deque<Closure> batch;
  {
    const std::lock_guard lock(state_->mutex);
    batch.swap(state_->pending);
  }
  std::size_t ran = 0;
  while (!batch.empty()) {
    Closure closure = std::move(batch.front());
    batch.pop_front();
    ++ran;
    try {
      closure();
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
    Closure closure;
    {
      std::unique_lock lock(state_->mutex);
      if (!state_->arrived.wait_until(lock, deadline, [&] { return !state_->pending.empty(); })) return done();
      closure = std::move(state_->pending.front());
      state_->pending.pop_front();
    }
    closure();
  }
  return true;
}

void MainQueue::setDispatcher(Dispatcher dispatcher) {
  std::shared_ptr<const Dispatcher> installed =
      dispatcher ? std::make_shared<const Dispatcher>(std::move(dispatcher)) : nullptr;
  std::deque<Closure> handOver;
  {
    const std::lock_guard lock(state_->mutex);
    state_->dispatcher = installed;
    if (installed) handOver.swap(state_->pending);
  }
  for (auto& closure : handOver) (*installed)(state_->wrapForDispatcher(std::move(closure)));
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
