// The two requests of the C interface: categories through the shared facade,
// submissions through a save client.
#include <orbisgrove/kit/OrbisgroveFeedbackKit.hpp>

#include <atomic>
#include <utility>

#include "kit/capi/Handles.hpp"

using namespace orbisgrove;

namespace orbisgrove::capi {
namespace {

// Guards the promise "the callback runs exactly once if the call returned
// OK, never otherwise": whichever of delivery and abandonment comes first
// wins. The kit delivers at most once; abandonment happens only when the C++
// call failed before it could promise a delivery, and then nothing may reach
// the host afterwards.
template <class Callback>
struct Delivery {
  enum : int { pending, delivered, abandoned };
  Callback callback;
  void* context;
  std::atomic<int> state{pending};

  Delivery(Callback cb, void* ctx) : callback(cb), context(ctx) {}

  bool claim() noexcept {
    int expected = pending;
    return state.compare_exchange_strong(expected, delivered, std::memory_order_acq_rel);
  }
  bool abandon() noexcept {
    int expected = pending;
    return state.compare_exchange_strong(expected, abandoned, std::memory_order_acq_rel);
  }
};

using CategoriesDelivery = Delivery<orbisgrove_categories_callback>;
using SaveDelivery = Delivery<orbisgrove_save_callback>;

void deliverCategories(CategoriesDelivery& delivery, const std::optional<OrbisgroveReportCategoriesList>& categories,
                       const std::shared_ptr<const platform::Error>& error) noexcept {
  if (!delivery.claim()) return;
  orbisgrove_category_list* list = nullptr;
  orbisgrove_error* failure = nullptr;
  try {
    if (categories) list = wrapCategories(*categories);
    failure = wrapError(error);
  } catch (...) {
    // The host still gets its one call; it must not see a partial answer.
    release(list);
    list = nullptr;
    failure = outOfMemoryError();
  }
  const Reference<orbisgrove_category_list> listReference(list);
  const Reference<orbisgrove_error> failureReference(failure);
  delivery.callback(delivery.context, list, failure);
}

void deliverSave(SaveDelivery& delivery, const std::shared_ptr<OrbisgroveUserDataInfo>& record,
                 const std::shared_ptr<const platform::Error>& error) noexcept {
  if (!delivery.claim()) return;
  orbisgrove_user_data* userData = nullptr;
  orbisgrove_error* failure = nullptr;
  try {
    if (record) userData = new orbisgrove_user_data(record);
    failure = wrapError(error);
  } catch (...) {
    release(userData);
    userData = nullptr;
    failure = outOfMemoryError();
  }
  const Reference<orbisgrove_user_data> userDataReference(userData);
  const Reference<orbisgrove_error> failureReference(failure);
  delivery.callback(delivery.context, userData, failure);
}

// The status of a C++ call that threw: if the kit already delivered (a cache
// hit, then a failure on the way out), the promise is kept and the call
// succeeded; otherwise no delivery may follow.
template <class D>
orbisgrove_status afterFailure(D& delivery, orbisgrove_status status) noexcept {
  return delivery.abandon() ? status : ORBISGROVE_OK;
}

orbisgrove_save_client& sharedClient() {
  static orbisgrove_save_client* client = [] {
    auto* handle = new orbisgrove_save_client;  // never freed, like the client itself
    handle->immortal = true;
    handle->client = &OrbisgroveSaveUserDataAPIManager::shared();
    return handle;
  }();
  return *client;
}

}  // namespace
}  // namespace orbisgrove::capi

extern "C" {

orbisgrove_status orbisgrove_get_report_categories(orbisgrove_categories_callback callback, void* context) {
  if (!callback) return ORBISGROVE_ERROR_INVALID_ARGUMENT;
  std::shared_ptr<capi::CategoriesDelivery> delivery;
  try {
    delivery = std::make_shared<capi::CategoriesDelivery>(callback, context);
  } catch (...) {
    return ORBISGROVE_ERROR_OUT_OF_MEMORY;
  }
  const orbisgrove_status status = capi::guarded([&] {
    OrbisgroveFeedbackKit::shared().getReportCategories(
        [delivery](std::optional<OrbisgroveReportCategoriesList> categories,
                   std::shared_ptr<const platform::Error> error) {
          capi::deliverCategories(*delivery, categories, error);
        });
    return ORBISGROVE_OK;
  });
  return status == ORBISGROVE_OK ? status : capi::afterFailure(*delivery, status);
}

orbisgrove_save_client* orbisgrove_save_client_shared(void) {
  try {
    return &capi::sharedClient();
  } catch (...) {
    return nullptr;
  }
}

orbisgrove_status orbisgrove_save_client_create(const char* host, orbisgrove_save_client** client) {
  if (client) *client = nullptr;
  if (!client) return ORBISGROVE_ERROR_INVALID_ARGUMENT;
  return capi::guarded([&] {
    auto handle = std::make_unique<orbisgrove_save_client>();
    handle->owned = std::make_unique<OrbisgroveSaveUserDataAPIManager>(capi::optionalText(host));
    handle->client = handle->owned.get();
    *client = handle.release();
    return ORBISGROVE_OK;
  });
}

orbisgrove_save_client* orbisgrove_save_client_retain(orbisgrove_save_client* client) { return capi::retain(client); }
void orbisgrove_save_client_release(orbisgrove_save_client* client) { capi::release(client); }

orbisgrove_status orbisgrove_save_user_data(orbisgrove_save_client* client, const orbisgrove_options* options,
                                            orbisgrove_save_callback callback, void* context, orbisgrove_task** task) {
  if (task) *task = nullptr;
  if (!options || !callback) return ORBISGROVE_ERROR_INVALID_ARGUMENT;
  std::shared_ptr<capi::SaveDelivery> delivery;
  orbisgrove_task* taskHandle = nullptr;
  try {
    if (!client) client = &capi::sharedClient();
    delivery = std::make_shared<capi::SaveDelivery>(callback, context);
    // Made before the request starts, so that a started request always has
    // a handle to return.
    if (task) taskHandle = new orbisgrove_task(nullptr);
  } catch (...) {
    return ORBISGROVE_ERROR_OUT_OF_MEMORY;
  }
  const orbisgrove_status status = capi::guarded([&] {
    auto running = client->client->saveUserData(
        *options->record,
        [delivery](std::shared_ptr<OrbisgroveUserDataInfo> record, std::shared_ptr<const platform::Error> error) {
          capi::deliverSave(*delivery, record, error);
        });
    if (taskHandle) taskHandle->task = std::move(running);
    return ORBISGROVE_OK;
  });
  if (status != ORBISGROVE_OK && capi::afterFailure(*delivery, status) != ORBISGROVE_OK) {
    capi::release(taskHandle);
    return status;
  }
  if (task) *task = taskHandle;
  return ORBISGROVE_OK;
}

orbisgrove_task* orbisgrove_task_retain(orbisgrove_task* task) { return capi::retain(task); }
void orbisgrove_task_release(orbisgrove_task* task) { capi::release(task); }

void orbisgrove_task_cancel(orbisgrove_task* task) {
  if (!task || !task->task) return;
  try {
    task->task->cancel();
  } catch (...) {
    capi::reportSwallowedFailure("orbisgrove_task_cancel");
  }
}

}  // extern "C"
