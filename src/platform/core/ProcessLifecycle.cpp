#include "platform/core/ProcessLifecycle.hpp"

#include <atomic>

namespace orbisgrove::platform {
namespace {

std::atomic<bool> exiting{false};

}  // namespace

bool processExiting() noexcept { return exiting.load(); }
void markProcessExiting() noexcept { exiting.store(true); }

}  // namespace orbisgrove::platform
