#include "platform/core/ProcessLifecycle.hpp"

#include "platform/json/JSONReaderLifetime.hpp"

#include <array>
#include <atomic>
#include <cstdlib>
#include <utility>
#include <vector>

#include <pthread.h>

namespace orbisgrove::platform {
namespace {

using Clock = std::chrono::steady_clock;

// The part of the budget kept for the threads to leave once draining ends:
// a completion handler that is still running, a last transfer call.
constexpr std::chrono::milliseconds kLeaveMargin{200};

// The child-side fork handlers: few, and read in the child without a lock.
std::array<std::atomic<void (*)()>, 8> childHandlers{};

std::atomic<bool> exiting{false};
std::atomic<bool> hookRan{false};

struct Participants {
  struct Entry {
    std::weak_ptr<ExitParticipant> participant;
    ProcessOwner owner;
  };
  std::mutex mutex;
  std::vector<Entry> entries;
  bool hookRegistered = false;
};

Participants& participants() {
  static auto* made = [] {
    auto* registry = new Participants;  // never destroyed: read by the exit hook
    // A fork() while another thread holds the lock would leave the child's
    // exit hook waiting for ever.
    pthread_atfork([] { participants().mutex.lock(); }, [] { participants().mutex.unlock(); },
                   [] {
                     participants().mutex.unlock();
                     for (auto& handler : childHandlers) {
                       if (auto* run = handler.load()) run();
                     }
                   });
    return registry;
  }();
  return *made;
}

void stopParticipantsAtExit() {
  if (hookRan.exchange(true)) return;  // an earlier registration: the later one ran it
  markProcessExiting();
  const auto begun = Clock::now();
  std::vector<std::shared_ptr<ExitParticipant>> alive;
  {
    auto& registry = participants();
    const std::lock_guard lock(registry.mutex);
    for (const auto& entry : registry.entries) {
      if (entry.owner.inForkedChild()) continue;  // the parent's threads are not here
      if (auto strong = entry.participant.lock()) alive.push_back(std::move(strong));
    }
  }
  // Every thread is told first, so that they wind down side by side.
  for (const auto& participant : alive) participant->beginExitStop(begun + kExitBudget - kLeaveMargin);
  if (auto* observer = exitObserverForTests.load()) observer();
  for (const auto& participant : alive) participant->finishExitStop(begun + kExitBudget);
}

}  // namespace

std::atomic<void (*)()> exitObserverForTests{nullptr};

bool processExiting() noexcept { return exiting.load(); }
void markProcessExiting() noexcept { exiting.store(true); }

void runInForkedChild(void (*handler)()) {
  (void)participants();  // registers the fork handlers that run these
  for (auto& slot : childHandlers) {
    void (*expected)() = nullptr;
    if (slot.compare_exchange_strong(expected, handler)) return;
  }
  pthread_atfork(nullptr, nullptr, handler);  // more than the table holds: a handler of its own
}

void registerExitHook() {
  // Made before the hook is registered, so destroyed after it has run.
  prepareJSONReaderForExit();
  auto& registry = participants();
  {
    const std::lock_guard lock(registry.mutex);
    registry.hookRegistered = true;
  }
  std::atexit(stopParticipantsAtExit);
}

void stopAtExit(std::weak_ptr<ExitParticipant> participant) {
  auto& registry = participants();
  static std::once_flag ensured;
  std::call_once(ensured, [&registry] {
    std::unique_lock lock(registry.mutex);
    if (registry.hookRegistered) return;
    lock.unlock();
    registerExitHook();
  });
  const std::lock_guard lock(registry.mutex);
  std::erase_if(registry.entries, [](const auto& entry) { return entry.participant.expired(); });
  registry.entries.push_back({std::move(participant), ProcessOwner{}});
}

void awaitThreadAtExit(std::thread thread, std::unique_lock<std::mutex>& lock, std::condition_variable& changed,
                       const std::function<bool()>& ended, const std::function<void()>& stopNow,
                       Clock::time_point drainUntil, Clock::time_point deadline) {
  bool done = changed.wait_until(lock, drainUntil, ended);
  if (!done) {
    stopNow();
    done = changed.wait_until(lock, deadline, ended);
  }
  lock.unlock();
  if (!thread.joinable()) return;
  if (done) {
    thread.join();
  } else {
    thread.detach();
  }
}

}  // namespace orbisgrove::platform
