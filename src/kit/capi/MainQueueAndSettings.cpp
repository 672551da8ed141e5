// The main queue and the platform settings of the C interface.
#include <orbisgrove/kit/ServiceHost.hpp>
#include <orbisgrove/platform/MainQueue.hpp>
#include <orbisgrove/platform/Settings.hpp>

#include <algorithm>
#include <chrono>
#include <string_view>
#include <utility>

#include "kit/capi/Handles.hpp"

using namespace orbisgrove;

extern "C" {

// ------------------------------------------------------------- main queue

size_t orbisgrove_main_queue_drain(void) {
  try {
    return platform::MainQueue::shared().drain();
  } catch (...) {
    capi::reportSwallowedFailure("a closure of the main queue");
    return 0;
  }
}

int orbisgrove_main_queue_run_until(orbisgrove_done_predicate done, void* context, int64_t timeout_ms) {
  const auto holds = [done, context] { return done != nullptr && done(context) != 0; };
  try {
    return platform::MainQueue::shared().runUntil(holds, std::chrono::milliseconds(std::max<int64_t>(timeout_ms, 0)))
               ? 1
               : 0;
  } catch (...) {
    capi::reportSwallowedFailure("a closure of the main queue");
    return holds() ? 1 : 0;
  }
}

size_t orbisgrove_main_queue_pending_count(void) { return platform::MainQueue::shared().pendingCount(); }

int orbisgrove_is_main_thread(void) { return platform::MainQueue::shared().isMainThread() ? 1 : 0; }

orbisgrove_status orbisgrove_main_queue_set_dispatcher(orbisgrove_dispatcher dispatcher, void* context) {
  return capi::guarded([&] {
    if (!dispatcher) {
      platform::MainQueue::shared().setDispatcher(nullptr);
      return ORBISGROVE_OK;
    }
    // Runs on the posting thread, inside the kit: a failure to allocate the
    // handle goes back to the poster as it would without a dispatcher.
    platform::MainQueue::shared().setDispatcher([dispatcher, context](platform::MainQueue::Closure closure) {
      dispatcher(context, new orbisgrove_closure{std::move(closure)});
    });
    return ORBISGROVE_OK;
  });
}

void orbisgrove_closure_run(orbisgrove_closure* closure) {
  if (!closure) return;
  try {
    closure->closure();
  } catch (...) {
    capi::reportSwallowedFailure("a closure of the main queue");
  }
  delete closure;
}

void orbisgrove_closure_discard(orbisgrove_closure* closure) { delete closure; }

// --------------------------------------------------------------- settings

orbisgrove_status orbisgrove_set_temporary_directory(const char* directory) {
  return capi::guarded([&] {
    if (!directory) return ORBISGROVE_ERROR_INVALID_ARGUMENT;
    platform::setTemporaryDirectory(directory);
    return ORBISGROVE_OK;
  });
}

orbisgrove_status orbisgrove_set_bundle_identifier(const char* bundle_identifier) {
  return capi::guarded([&] {
    platform::setBundleIdentifier(capi::optionalText(bundle_identifier));
    return ORBISGROVE_OK;
  });
}

orbisgrove_status orbisgrove_add_trusted_certificates(const char* pem_file) {
  return capi::guarded([&] {
    if (!pem_file) return ORBISGROVE_ERROR_INVALID_ARGUMENT;
    platform::addTrustedCertificates(pem_file);
    return ORBISGROVE_OK;
  });
}

orbisgrove_status orbisgrove_set_console_sink(orbisgrove_console_sink sink, void* context) {
  return capi::guarded([&] {
    if (!sink) {
      platform::setConsoleSink(nullptr);
      return ORBISGROVE_OK;
    }
    platform::setConsoleSink([sink, context](std::string_view line) {
      // The C side gets a NUL-terminated copy; a line that cannot be copied is lost.
      try {
        const std::string text(line);
        sink(context, text.c_str(), text.size());
      } catch (...) {
      }
    });
    return ORBISGROVE_OK;
  });
}

orbisgrove_status orbisgrove_set_service_host(const char* host) {
  return capi::guarded([&] {
    if (!host) return ORBISGROVE_ERROR_INVALID_ARGUMENT;
    setServiceHost(host);
    return ORBISGROVE_OK;
  });
}

}  // extern "C"
