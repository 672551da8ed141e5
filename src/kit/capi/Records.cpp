// Error values and records of the C interface.
#include <orbisgrove/platform/JSONCoding.hpp>
#include <orbisgrove/platform/Location.hpp>
#include <orbisgrove/service/OrbisgroveSubmissionFailure.hpp>

#include <exception>
#include <string_view>
#include <variant>

#include "kit/capi/Handles.hpp"
#include "platform/core/Console.hpp"

using namespace orbisgrove;

namespace orbisgrove::capi {
namespace {

// C hosts compare domains with the interface's macros.
static_assert(std::string_view(ORBISGROVE_FEEDBACK_ERROR_DOMAIN) == platform::detail::kitErrorDomain);

// Built while the library loads, so that handing it out needs no memory.
struct OutOfMemoryError {
  orbisgrove_error* handle;
  OutOfMemoryError()
      : handle(new orbisgrove_error(platform::Error::make(
            ORBISGROVE_C_INTERFACE_ERROR_DOMAIN, ORBISGROVE_ERROR_OUT_OF_MEMORY,
            {{std::string(platform::NSLocalizedFailureReasonErrorKey), std::string("Memory ran out.")}}))) {
    handle->immortal = true;
  }
};
const OutOfMemoryError outOfMemory;

const std::string* textEntry(const platform::Error& error, std::string_view key) {
  const auto entry = error.userInfo().find(key);
  if (entry == error.userInfo().end()) return nullptr;
  return std::get_if<std::string>(&entry->second);
}

int exactInteger(const std::shared_ptr<const platform::Number>& number, int64_t* value) noexcept {
  if (!number) return 0;
  const auto exact = number->int64ValueIfExact();
  if (!exact) return 0;
  if (value) *value = *exact;
  return 1;
}

// Decodes a record from JSON text, reporting the JSON coder's error value.
template <class Record, class Handle>
orbisgrove_status decodeRecord(const char* json, size_t length, Handle** out, orbisgrove_error** error) {
  if (out) *out = nullptr;
  if (error) *error = nullptr;
  if (!out || (!json && length > 0)) return ORBISGROVE_ERROR_INVALID_ARGUMENT;
  std::shared_ptr<Record> record;
  try {
    const platform::JSONDocument document(std::string_view(json ? json : "", length));
    record = std::make_shared<Record>(document.root());
  } catch (const platform::CodingError& failure) {
    if (error) *error = wrapError(failure.error());
    return ORBISGROVE_ERROR_FAILED;
  }
  *out = new Handle(std::move(record));
  return ORBISGROVE_OK;
}

// Changes a record through its handle; copying the text may run out of memory.
template <class Handle, class Change>
orbisgrove_status changeRecord(Handle* handle, Change change) {
  return guarded([&] {
    if (!handle) return ORBISGROVE_ERROR_INVALID_ARGUMENT;
    change(*handle->record);
    return ORBISGROVE_OK;
  });
}

}  // namespace

void reportSwallowedFailure(const char* where) noexcept {
  try {
    platform::consoleLineForCurrentException(std::string(where) + " failed");
  } catch (...) {  // NOLINT(bugprone-empty-catch): nowhere left to report to
  }
}

orbisgrove_error* wrapError(const std::shared_ptr<const platform::Error>& error) {
  if (!error) return nullptr;
  return new orbisgrove_error(error);
}

orbisgrove_error* outOfMemoryError() noexcept { return outOfMemory.handle; }

orbisgrove_category_list* wrapCategories(const OrbisgroveReportCategoriesList& categories) {
  auto list = std::make_unique<orbisgrove_category_list>();
  list->items.reserve(categories.size());
  for (const auto& record : categories) list->items.push_back(record ? new orbisgrove_category(record) : nullptr);
  return list.release();
}

}  // namespace orbisgrove::capi

orbisgrove_error::orbisgrove_error(std::shared_ptr<const platform::Error> value)
    : error(std::move(value)), description(error->description()) {
  underlying = capi::wrapError(error->underlyingError());
}

orbisgrove_error::~orbisgrove_error() { capi::release(underlying); }

extern "C" {

// ------------------------------------------------------------------ errors

orbisgrove_error* orbisgrove_error_retain(orbisgrove_error* error) { return capi::retain(error); }
void orbisgrove_error_release(orbisgrove_error* error) { capi::release(error); }
const char* orbisgrove_error_domain(const orbisgrove_error* error) { return error->error->domain().c_str(); }
int64_t orbisgrove_error_code(const orbisgrove_error* error) { return error->error->code(); }
int64_t orbisgrove_error_http_status(const orbisgrove_error* error) {
  return error->error->deliveryFacts().httpStatusCode.value_or(0);
}

const char* orbisgrove_error_failure_reason(const orbisgrove_error* error) {
  return orbisgrove_error_user_info_text(error, ORBISGROVE_FAILURE_REASON_KEY);
}

const char* orbisgrove_error_recovery_suggestion(const orbisgrove_error* error) {
  return orbisgrove_error_user_info_text(error, ORBISGROVE_RECOVERY_SUGGESTION_KEY);
}

orbisgrove_error* orbisgrove_error_underlying(const orbisgrove_error* error) { return error->underlying; }

const char* orbisgrove_error_user_info_text(const orbisgrove_error* error, const char* key) {
  if (!key) return nullptr;
  const std::string* text = capi::textEntry(*error->error, key);
  return text ? text->c_str() : nullptr;
}

const char* orbisgrove_error_description(const orbisgrove_error* error) { return error->description.c_str(); }

orbisgrove_submission_failure orbisgrove_error_submission_failure(const orbisgrove_error* error) {
  return static_cast<orbisgrove_submission_failure>(classifySubmissionFailure(*error->error));
}

// -------------------------------------------------------------- categories

orbisgrove_status orbisgrove_category_decode(const char* json, size_t length, orbisgrove_category** category,
                                             orbisgrove_error** error) {
  return capi::guarded([&] { return capi::decodeRecord<OrbisgroveReportCategories>(json, length, category, error); });
}

orbisgrove_category* orbisgrove_category_retain(orbisgrove_category* category) { return capi::retain(category); }
void orbisgrove_category_release(orbisgrove_category* category) { capi::release(category); }

const char* orbisgrove_category_report_id(const orbisgrove_category* category, size_t* length) {
  return capi::optionalText(category->record->reportId(), length);
}

const char* orbisgrove_category_report_name(const orbisgrove_category* category, size_t* length) {
  return capi::optionalText(category->record->reportName(), length);
}

const char* orbisgrove_category_parent_id(const orbisgrove_category* category, size_t* length) {
  return capi::optionalText(category->record->parentId(), length);
}

int orbisgrove_category_created(const orbisgrove_category* category, int64_t* value) {
  return capi::exactInteger(category->record->created(), value);
}

orbisgrove_status orbisgrove_category_set_report_id(orbisgrove_category* category, const char* report_id) {
  return capi::changeRecord(category, [&](auto& record) { record.setReportId(capi::optionalText(report_id)); });
}

orbisgrove_status orbisgrove_category_set_report_name(orbisgrove_category* category, const char* report_name) {
  return capi::changeRecord(category, [&](auto& record) { record.setReportName(capi::optionalText(report_name)); });
}

orbisgrove_status orbisgrove_category_set_parent_id(orbisgrove_category* category, const char* parent_id) {
  return capi::changeRecord(category, [&](auto& record) { record.setParentId(capi::optionalText(parent_id)); });
}

orbisgrove_status orbisgrove_category_set_created(orbisgrove_category* category, int present, int64_t value) {
  return capi::changeRecord(
      category, [&](auto& record) { record.setCreated(present ? platform::Number::withInt64(value) : nullptr); });
}

orbisgrove_category_list* orbisgrove_category_list_retain(orbisgrove_category_list* list) { return capi::retain(list); }
void orbisgrove_category_list_release(orbisgrove_category_list* list) { capi::release(list); }
size_t orbisgrove_category_list_count(const orbisgrove_category_list* list) { return list->items.size(); }

orbisgrove_category* orbisgrove_category_list_at(const orbisgrove_category_list* list, size_t index) {
  return index < list->items.size() ? list->items[index] : nullptr;
}

// --------------------------------------------------------------- user data

orbisgrove_status orbisgrove_user_data_decode(const char* json, size_t length, orbisgrove_user_data** user_data,
                                              orbisgrove_error** error) {
  return capi::guarded([&] { return capi::decodeRecord<OrbisgroveUserDataInfo>(json, length, user_data, error); });
}

orbisgrove_user_data* orbisgrove_user_data_retain(orbisgrove_user_data* user_data) { return capi::retain(user_data); }
void orbisgrove_user_data_release(orbisgrove_user_data* user_data) { capi::release(user_data); }

int orbisgrove_user_data_data_count(const orbisgrove_user_data* user_data, int64_t* value) {
  return capi::exactInteger(user_data->record->dataCount(), value);
}

int orbisgrove_user_data_exist(const orbisgrove_user_data* user_data, int64_t* value) {
  return capi::exactInteger(user_data->record->exist(), value);
}

int orbisgrove_user_data_list_id(const orbisgrove_user_data* user_data, int64_t* value) {
  return capi::exactInteger(user_data->record->listId(), value);
}

const char* orbisgrove_user_data_name(const orbisgrove_user_data* user_data, size_t* length) {
  return capi::optionalText(user_data->record->name(), length);
}

const char* orbisgrove_user_data_id(const orbisgrove_user_data* user_data, size_t* length) {
  return capi::optionalText(user_data->record->id(), length);
}

const char* orbisgrove_user_data_time(const orbisgrove_user_data* user_data, size_t* length) {
  return capi::optionalText(user_data->record->time(), length);
}

const char* orbisgrove_user_data_url(const orbisgrove_user_data* user_data, size_t* length) {
  return capi::optionalText(user_data->record->url(), length);
}

// ----------------------------------------------------------------- options

orbisgrove_options* orbisgrove_options_create_with_coordinate(orbisgrove_coordinate coordinate,
                                                              orbisgrove_category* parent_category,
                                                              orbisgrove_category* child_category,
                                                              const char* description, const char* module_id) {
  try {
    auto options = std::make_unique<orbisgrove_options>();
    options->record = OrbisgroveSaveUserDataOptions::initWithCoordinate(
        {coordinate.latitude, coordinate.longitude}, parent_category ? parent_category->record : nullptr,
        child_category ? child_category->record : nullptr, description ? description : "",
        capi::optionalText(module_id));
    options->parent = capi::retain(parent_category);
    options->child = capi::retain(child_category);
    return options.release();
  } catch (...) {
    return nullptr;
  }
}

orbisgrove_options* orbisgrove_options_create_with_location(double latitude, double longitude,
                                                            orbisgrove_category* parent_category,
                                                            orbisgrove_category* child_category,
                                                            const char* description, const char* module_id) {
  try {
    auto options = std::make_unique<orbisgrove_options>();
    options->record = OrbisgroveSaveUserDataOptions::initWithLocation(
        platform::Location(latitude, longitude), parent_category ? parent_category->record : nullptr,
        child_category ? child_category->record : nullptr, description ? description : "",
        capi::optionalText(module_id));
    options->parent = capi::retain(parent_category);
    options->child = capi::retain(child_category);
    return options.release();
  } catch (...) {
    return nullptr;
  }
}

orbisgrove_options* orbisgrove_options_retain(orbisgrove_options* options) { return capi::retain(options); }
void orbisgrove_options_release(orbisgrove_options* options) { capi::release(options); }

orbisgrove_coordinate orbisgrove_options_coordinate(const orbisgrove_options* options) {
  const platform::Coordinate coordinate = options->record->coordinate();
  return {coordinate.latitude, coordinate.longitude};
}

const char* orbisgrove_options_description(const orbisgrove_options* options) {
  return options->record->feedbackDescription().c_str();
}

const char* orbisgrove_options_module_id(const orbisgrove_options* options) {
  return capi::optionalText(options->record->moduleId(), nullptr);
}

orbisgrove_category* orbisgrove_options_parent_category(const orbisgrove_options* options) { return options->parent; }

orbisgrove_category* orbisgrove_options_child_category(const orbisgrove_options* options) { return options->child; }

void orbisgrove_options_set_coordinate(orbisgrove_options* options, orbisgrove_coordinate coordinate) {
  options->record->setCoordinate({coordinate.latitude, coordinate.longitude});
}

orbisgrove_status orbisgrove_options_set_description(orbisgrove_options* options, const char* description) {
  return capi::changeRecord(options,
                            [&](auto& record) { record.setFeedbackDescription(description ? description : ""); });
}

orbisgrove_status orbisgrove_options_set_module_id(orbisgrove_options* options, const char* module_id) {
  return capi::changeRecord(options, [&](auto& record) { record.setModuleId(capi::optionalText(module_id)); });
}

// Swapping a shared_ptr allocates nothing, so these cannot fail.
void orbisgrove_options_set_parent_category(orbisgrove_options* options, orbisgrove_category* category) {
  options->record->setParentCategory(category ? category->record : nullptr);
  capi::retain(category);
  capi::release(options->parent);
  options->parent = category;
}

void orbisgrove_options_set_child_category(orbisgrove_options* options, orbisgrove_category* category) {
  options->record->setChildCategory(category ? category->record : nullptr);
  capi::retain(category);
  capi::release(options->child);
  options->child = category;
}

}  // extern "C"
