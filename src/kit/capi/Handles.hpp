// What stands behind the opaque handles of <orbisgrove/feedback.h>, and the
// helpers every C entry point uses to keep C++ exceptions on this side.
#pragma once

#include <orbisgrove/feedback.h>
#include <orbisgrove/model/OrbisgroveReportCategories.hpp>
#include <orbisgrove/model/OrbisgroveSaveUserDataOptions.hpp>
#include <orbisgrove/model/OrbisgroveUserDataInfo.hpp>
#include <orbisgrove/platform/DataTask.hpp>
#include <orbisgrove/platform/Error.hpp>
#include <orbisgrove/platform/MainQueue.hpp>
#include <orbisgrove/service/OrbisgroveSaveUserDataAPIManager.hpp>

#include <atomic>
#include <cstddef>
#include <memory>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace orbisgrove::capi {

/// The reference count every handle starts with: one, owned by whoever the
/// handle is handed to. Immortal handles (the shared save client, the
/// out-of-memory error) ignore retain and release.
struct CountedHandle {
  std::atomic<std::size_t> references{1};
  bool immortal = false;

  CountedHandle() = default;
  CountedHandle(const CountedHandle&) = delete;
  CountedHandle& operator=(const CountedHandle&) = delete;
};

template <class Handle>
Handle* retain(Handle* handle) noexcept {
  if (handle && !handle->immortal) handle->references.fetch_add(1, std::memory_order_relaxed);
  return handle;
}

template <class Handle>
void release(Handle* handle) noexcept {
  if (!handle || handle->immortal) return;
  // acq_rel: the thread that frees sees every other thread's last use.
  if (handle->references.fetch_sub(1, std::memory_order_acq_rel) == 1) delete handle;
}

/// Drops a reference when it goes out of scope; for handles lent to a callback.
template <class Handle>
struct Reference {
  Handle* handle = nullptr;
  explicit Reference(Handle* h) noexcept : handle(h) {}
  ~Reference() { release(handle); }
  Reference(const Reference&) = delete;
  Reference& operator=(const Reference&) = delete;
};

/// The text of an optional field as C sees it: NULL when absent.
inline const char* optionalText(const std::optional<std::string>& text, std::size_t* length) noexcept {
  if (length) *length = text ? text->size() : 0;
  return text ? text->c_str() : nullptr;
}

inline std::optional<std::string> optionalText(const char* text) {
  if (!text) return std::nullopt;
  return std::string(text);
}

/// Runs `body` and turns whatever it throws into a status.
template <class Body>
orbisgrove_status guarded(Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return ORBISGROVE_ERROR_OUT_OF_MEMORY;
  } catch (const std::invalid_argument&) {
    return ORBISGROVE_ERROR_INVALID_ARGUMENT;
  } catch (...) {
    return ORBISGROVE_ERROR_FAILED;
  }
}

/// Writes a failure that cannot be reported to a caller to the console.
void reportSwallowedFailure(const char* where) noexcept;

}  // namespace orbisgrove::capi

struct orbisgrove_error : orbisgrove::capi::CountedHandle {
  std::shared_ptr<const orbisgrove::platform::Error> error;
  std::string description;
  // The nested error, wrapped once so that its handle is stable.
  orbisgrove_error* underlying = nullptr;

  explicit orbisgrove_error(std::shared_ptr<const orbisgrove::platform::Error> value);
  ~orbisgrove_error();
};

struct orbisgrove_category : orbisgrove::capi::CountedHandle {
  std::shared_ptr<orbisgrove::OrbisgroveReportCategories> record;
  explicit orbisgrove_category(std::shared_ptr<orbisgrove::OrbisgroveReportCategories> value)
      : record(std::move(value)) {}
};

struct orbisgrove_category_list : orbisgrove::capi::CountedHandle {
  // One handle per record, made once: the same index gives the same handle.
  std::vector<orbisgrove_category*> items;
  orbisgrove_category_list() = default;
  ~orbisgrove_category_list() {
    for (orbisgrove_category* item : items) orbisgrove::capi::release(item);
  }
};

struct orbisgrove_user_data : orbisgrove::capi::CountedHandle {
  std::shared_ptr<orbisgrove::OrbisgroveUserDataInfo> record;
  explicit orbisgrove_user_data(std::shared_ptr<orbisgrove::OrbisgroveUserDataInfo> value) : record(std::move(value)) {}
};

struct orbisgrove_options : orbisgrove::capi::CountedHandle {
  std::shared_ptr<orbisgrove::OrbisgroveSaveUserDataOptions> record;
  // The handles given to the record; the record holds their C++ records.
  orbisgrove_category* parent = nullptr;
  orbisgrove_category* child = nullptr;
  orbisgrove_options() = default;
  ~orbisgrove_options() {
    orbisgrove::capi::release(parent);
    orbisgrove::capi::release(child);
  }
};

struct orbisgrove_save_client : orbisgrove::capi::CountedHandle {
  // The shared client is borrowed; a client made by the host is owned.
  std::unique_ptr<orbisgrove::OrbisgroveSaveUserDataAPIManager> owned;
  orbisgrove::OrbisgroveSaveUserDataAPIManager* client = nullptr;
};

struct orbisgrove_task : orbisgrove::capi::CountedHandle {
  std::shared_ptr<orbisgrove::platform::DataTask> task;
  explicit orbisgrove_task(std::shared_ptr<orbisgrove::platform::DataTask> value) : task(std::move(value)) {}
};

struct orbisgrove_closure {
  orbisgrove::platform::MainQueue::Closure closure;
};

namespace orbisgrove::capi {

/// A new handle for `error` (null for no error). Throws std::bad_alloc.
orbisgrove_error* wrapError(const std::shared_ptr<const platform::Error>& error);
/// The immortal error handed out when memory runs out while a result is wrapped.
orbisgrove_error* outOfMemoryError() noexcept;
/// A new list handle. Throws std::bad_alloc.
orbisgrove_category_list* wrapCategories(const OrbisgroveReportCategoriesList& categories);

}  // namespace orbisgrove::capi
