// The C interface of the outbox.
#include <orbisgrove/feedback.h>
#include <orbisgrove/kit/OrbisgroveFeedbackOutbox.hpp>
#include <orbisgrove/platform/Settings.hpp>

#include <chrono>
#include <mutex>

#include "kit/capi/Handles.hpp"
#include "kit/outbox/OutboxEngine.hpp"

struct orbisgrove_outbox_entry : orbisgrove::capi::CountedHandle {
  orbisgrove::OrbisgroveOutboxEntry entry;
  orbisgrove_error* lastError;
  orbisgrove_user_data* record = nullptr;
  explicit orbisgrove_outbox_entry(orbisgrove::OrbisgroveOutboxEntry value)
      : entry(std::move(value)), lastError(orbisgrove::capi::wrapError(entry.lastError)) {
    try {
      if (entry.record) record = new orbisgrove_user_data(entry.record);
    } catch (...) {
      orbisgrove::capi::release(lastError);
      throw;
    }
  }
  ~orbisgrove_outbox_entry() {
    orbisgrove::capi::release(lastError);
    orbisgrove::capi::release(record);
  }
};

struct orbisgrove_outbox_entry_list : orbisgrove::capi::CountedHandle {
  std::vector<orbisgrove_outbox_entry*> items;
  orbisgrove_outbox_entry_list() = default;
  ~orbisgrove_outbox_entry_list() {
    for (auto* item : items) orbisgrove::capi::release(item);
  }
};

using namespace orbisgrove;
using namespace orbisgrove::capi;

namespace {

double secondsSince1970(std::chrono::system_clock::time_point time) {
  return std::chrono::duration<double>(time.time_since_epoch()).count();
}

orbisgrove_status finish(const std::shared_ptr<const platform::Error>& failure, orbisgrove_error** error) {
  if (!failure) return ORBISGROVE_OK;
  if (error) *error = wrapError(failure);
  return ORBISGROVE_ERROR_FAILED;
}

}  // namespace

extern "C" {

orbisgrove_status orbisgrove_set_data_directory(const char* directory) {
  return guarded([&] {
    if (!directory) return ORBISGROVE_ERROR_INVALID_ARGUMENT;
    platform::setDataDirectory(directory);
    return ORBISGROVE_OK;
  });
}

orbisgrove_status orbisgrove_outbox_enqueue(const orbisgrove_options* options, orbisgrove_outbox_entry** entry,
                                            orbisgrove_error** error) {
  return guarded([&] {
    if (!options || !options->record) return ORBISGROVE_ERROR_INVALID_ARGUMENT;
    auto& outbox = OrbisgroveFeedbackOutbox::shared();
    const auto stored = outbox.enqueue(*options->record);
    if (stored.error) return finish(stored.error, error);
    if (entry) {
      *entry = nullptr;
      for (auto& current : outbox.entries()) {
        if (current.id == *stored.id) *entry = new orbisgrove_outbox_entry(std::move(current));
      }
    }
    return ORBISGROVE_OK;
  });
}

orbisgrove_status orbisgrove_outbox_enqueue_async(const orbisgrove_options* options,
                                                  orbisgrove_outbox_enqueue_callback done, void* context,
                                                  orbisgrove_error** error) {
  return guarded([&] {
    if (!options || !options->record) return ORBISGROVE_ERROR_INVALID_ARGUMENT;
    auto handler = std::make_shared<const OrbisgroveFeedbackOutbox::Engine::StoredHandler>(
        [done, context](const OrbisgroveOutboxEnqueueResult& result, const OrbisgroveOutboxEntry* stored) {
          if (!done) return;
          orbisgrove_outbox_entry* entry = nullptr;
          orbisgrove_error* failure = nullptr;
          try {
            if (stored != nullptr) entry = new orbisgrove_outbox_entry(*stored);
            failure = wrapError(result.error);
          } catch (...) {
            release(entry);
            reportSwallowedFailure("orbisgrove_outbox enqueue callback");
            return;
          }
          const Reference<orbisgrove_outbox_entry> entryReference(entry);
          const Reference<orbisgrove_error> errorReference(failure);
          done(context, entry, failure);
        });
    return finish(OrbisgroveFeedbackOutbox::Engine::shared()->enqueueLater(*options->record, handler), error);
  });
}

orbisgrove_status orbisgrove_outbox_entries(orbisgrove_outbox_entry_list** list, orbisgrove_error** error) {
  return guarded([&] {
    if (!list) return ORBISGROVE_ERROR_INVALID_ARGUMENT;
    std::shared_ptr<const platform::Error> failure;
    auto entries = OrbisgroveFeedbackOutbox::shared().entries(&failure);
    if (failure) return finish(failure, error);
    auto* made = new orbisgrove_outbox_entry_list;
    try {
      made->items.reserve(entries.size());
      for (auto& entry : entries) made->items.push_back(new orbisgrove_outbox_entry(std::move(entry)));
    } catch (...) {
      release(made);
      throw;
    }
    *list = made;
    return ORBISGROVE_OK;
  });
}

orbisgrove_status orbisgrove_outbox_deliver_now(orbisgrove_outbox_done_callback done, void* context) {
  return guarded([&] {
    OrbisgroveFeedbackOutbox::DeliveryHandler handler;
    if (done) handler = [done, context] { done(context); };
    OrbisgroveFeedbackOutbox::shared().deliverNow(std::move(handler));
    return ORBISGROVE_OK;
  });
}

orbisgrove_status orbisgrove_outbox_deliver(const char* id, orbisgrove_outbox_done_callback done, void* context,
                                            orbisgrove_error** error) {
  return guarded([&] {
    if (!id) return ORBISGROVE_ERROR_INVALID_ARGUMENT;
    OrbisgroveFeedbackOutbox::DeliveryHandler handler;
    if (done) handler = [done, context] { done(context); };
    return finish(OrbisgroveFeedbackOutbox::shared().deliver(id, std::move(handler)), error);
  });
}

orbisgrove_status orbisgrove_outbox_resend(const char* id, orbisgrove_error** error) {
  return guarded([&] {
    if (!id) return ORBISGROVE_ERROR_INVALID_ARGUMENT;
    return finish(OrbisgroveFeedbackOutbox::shared().resend(id), error);
  });
}

orbisgrove_status orbisgrove_outbox_discard(const char* id, orbisgrove_error** error) {
  return guarded([&] {
    if (!id) return ORBISGROVE_ERROR_INVALID_ARGUMENT;
    return finish(OrbisgroveFeedbackOutbox::shared().discard(id), error);
  });
}

orbisgrove_status orbisgrove_outbox_set_change_callback(orbisgrove_outbox_change_callback callback, void* context) {
  return guarded([&] {
    OrbisgroveFeedbackOutbox::ChangeHandler handler;
    if (callback) {
      handler = [callback, context](const OrbisgroveOutboxEntry& entry) {
        orbisgrove_outbox_entry* handle = nullptr;
        try {
          handle = new orbisgrove_outbox_entry(entry);
        } catch (...) {
          reportSwallowedFailure("orbisgrove_outbox change callback");
          return;
        }
        const Reference<orbisgrove_outbox_entry> reference(handle);
        callback(context, handle);
      };
    }
    OrbisgroveFeedbackOutbox::shared().setChangeHandler(std::move(handler));
    return ORBISGROVE_OK;
  });
}

orbisgrove_outbox_entry* orbisgrove_outbox_entry_retain(orbisgrove_outbox_entry* entry) { return retain(entry); }
void orbisgrove_outbox_entry_release(orbisgrove_outbox_entry* entry) { release(entry); }
const char* orbisgrove_outbox_entry_id(const orbisgrove_outbox_entry* entry) {
  return entry ? entry->entry.id.c_str() : nullptr;
}
orbisgrove_outbox_state orbisgrove_outbox_entry_state(const orbisgrove_outbox_entry* entry) {
  return entry ? static_cast<orbisgrove_outbox_state>(entry->entry.state) : ORBISGROVE_OUTBOX_QUEUED;
}
int64_t orbisgrove_outbox_entry_attempts(const orbisgrove_outbox_entry* entry) {
  return entry ? entry->entry.attempts : 0;
}
double orbisgrove_outbox_entry_created_at(const orbisgrove_outbox_entry* entry) {
  return entry ? secondsSince1970(entry->entry.createdAt) : 0;
}
int orbisgrove_outbox_entry_next_attempt_at(const orbisgrove_outbox_entry* entry, double* seconds) {
  if (!entry || !entry->entry.nextAttemptAt) return 0;
  if (seconds) *seconds = secondsSince1970(*entry->entry.nextAttemptAt);
  return 1;
}
orbisgrove_error* orbisgrove_outbox_entry_last_error(const orbisgrove_outbox_entry* entry) {
  return entry ? entry->lastError : nullptr;
}
orbisgrove_user_data* orbisgrove_outbox_entry_record(const orbisgrove_outbox_entry* entry) {
  return entry ? entry->record : nullptr;
}

orbisgrove_outbox_entry_list* orbisgrove_outbox_entry_list_retain(orbisgrove_outbox_entry_list* list) {
  return retain(list);
}
void orbisgrove_outbox_entry_list_release(orbisgrove_outbox_entry_list* list) { release(list); }
size_t orbisgrove_outbox_entry_list_count(const orbisgrove_outbox_entry_list* list) {
  return list ? list->items.size() : 0;
}
orbisgrove_outbox_entry* orbisgrove_outbox_entry_list_at(const orbisgrove_outbox_entry_list* list, size_t index) {
  return list && index < list->items.size() ? list->items[index] : nullptr;
}

}  // extern "C"
