#include "platform/http/CurlGlobal.hpp"

#include <curl/curl.h>

#include <cstdlib>
#include <mutex>
#include <utility>
#include <vector>

namespace orbisgrove::platform::http {
namespace {

// How long the exit hook waits, in all, for delivery threads that are busy
// (a completion handler still running, say). Past it the process exits anyway.
constexpr std::chrono::milliseconds exitStopBudget{1500};

struct ExitRegistry {
  std::mutex mutex;
  std::vector<std::weak_ptr<ExitParticipant>> participants;
};

ExitRegistry& exitRegistry() {
  static auto* registry = new ExitRegistry;  // never destroyed: read by the exit hook
  return *registry;
}

void stopParticipantsAtExit() {
  std::vector<std::shared_ptr<ExitParticipant>> alive;
  {
    auto& registry = exitRegistry();
    const std::lock_guard lock(registry.mutex);
    for (const auto& participant : registry.participants) {
      if (auto strong = participant.lock()) alive.push_back(std::move(strong));
    }
  }
  // Every thread is asked first so that they wind down side by side.
  for (const auto& participant : alive) participant->beginExitStop();
  const auto deadline = std::chrono::steady_clock::now() + exitStopBudget;
  for (const auto& participant : alive) participant->finishExitStop(deadline);
}

}  // namespace

void ensureCurlGlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    // atexit hooks run in reverse order of registration: registered after
    // curl_global_init (which registers OpenSSL's cleanup), this one runs first.
    std::atexit(stopParticipantsAtExit);
  });
}

void stopAtExit(std::weak_ptr<ExitParticipant> participant) {
  ensureCurlGlobalInit();
  auto& registry = exitRegistry();
  const std::lock_guard lock(registry.mutex);
  std::erase_if(registry.participants, [](const auto& entry) { return entry.expired(); });
  registry.participants.push_back(std::move(participant));
}

}  // namespace orbisgrove::platform::http
