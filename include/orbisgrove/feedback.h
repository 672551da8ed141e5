/**
 * @file feedback.h
 * @brief The feedback kit for hosts written in C, or in any language that can
 *        call C (Python through ctypes, Rust, Swift, Kotlin/JNI, ...).
 *
 * Plain C99; the same declarations serve C++ (they are `extern "C"`).
 *
 * @par Handles and ownership
 * Every object is an opaque handle with a thread-safe reference count. A
 * function whose name contains `create` or `decode`, or that hands a handle
 * out through a `**` parameter, gives the caller one reference, which the
 * caller ends with the matching `_release`. A handle returned directly by an
 * accessor (`orbisgrove_category_list_at`, `orbisgrove_error_underlying`,
 * `orbisgrove_options_parent_category`, ...) is borrowed: it stays valid
 * while the handle it came from lives; `_retain` it to keep it longer.
 * Handles passed to a callback are borrowed for the duration of the call.
 * Every `_release` accepts NULL; elsewhere a handle parameter must not be
 * NULL unless its description allows it.
 *
 * @par Strings
 * Strings passed in are UTF-8, NUL-terminated and copied before the call
 * returns. A string returned from a handle belongs to the handle: it stays
 * valid while the handle lives and, for a record field, until that field is
 * set again. NULL stands for an absent value; "" is a present, empty one.
 *
 * @par Threads
 * Every function may be called on any thread. Completion callbacks run on
 * the main queue (the host's main thread; see orbisgrove_main_queue_drain()
 * and orbisgrove_main_queue_set_dispatcher()), except a categories answer
 * from the device cache, which runs on the calling thread before
 * orbisgrove_get_report_categories() returns. Records (categories, user data,
 * options) have no lock: do not change one on one thread while another reads
 * it. Error values are immutable.
 *
 * @par Failures
 * No C++ exception ever leaves these functions. Calls that can fail return an
 * ::orbisgrove_status; a failed asynchronous operation reaches its callback
 * as an error value (::orbisgrove_error). Callbacks must return normally
 * (no longjmp out of them).
 */
#ifndef ORBISGROVE_FEEDBACK_H
#define ORBISGROVE_FEEDBACK_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The library hides its symbols by default; what is declared here is its C
 * interface and is exported. */
#if defined(__GNUC__) && !defined(_WIN32)
#pragma GCC visibility push(default)
#endif

/** @name Error domains, codes and user-information keys
 *  @{ */
/** Domain of the errors the kit builds itself (code -1). */
#define ORBISGROVE_FEEDBACK_ERROR_DOMAIN "OrbisgroveFeedbackErrorDomain"
/** Domain of transport failures (no reply, or no usable reply). */
#define ORBISGROVE_URL_ERROR_DOMAIN "NSURLErrorDomain"
/** Domain of JSON decoding failures. */
#define ORBISGROVE_JSON_CODING_ERROR_DOMAIN "OrbisgroveJSONCodingErrorDomain"
/** Domain of failures of the C interface itself: the code is an ::orbisgrove_status. */
#define ORBISGROVE_C_INTERFACE_ERROR_DOMAIN "OrbisgroveCInterfaceErrorDomain"
/** Code of a transport error that ended a cancelled task. */
#define ORBISGROVE_URL_ERROR_CANCELLED (-999)
/** User-information key: why the operation failed, in words. */
#define ORBISGROVE_FAILURE_REASON_KEY "NSLocalizedFailureReason"
/** User-information key: what the user may do about it, in words. */
#define ORBISGROVE_RECOVERY_SUGGESTION_KEY "NSLocalizedRecoverySuggestion"
/** User-information key of a JSON decoding failure's path ("data[1].created"). */
#define ORBISGROVE_CODING_PATH_KEY "OrbisgroveCodingPath"
/** User-information key of the URL a transport error concerns. */
#define ORBISGROVE_FAILING_URL_KEY "NSErrorFailingURLStringKey"
/** @} */

/** What a call of this interface did. */
typedef enum orbisgrove_status {
  /** The call did what it says. */
  ORBISGROVE_OK = 0,
  /** An argument was NULL where it may not be, or text was unusable (a host
      text from which no https URL can be formed). Nothing was done. */
  ORBISGROVE_ERROR_INVALID_ARGUMENT = 1,
  /** Memory ran out. Nothing was done. */
  ORBISGROVE_ERROR_OUT_OF_MEMORY = 2,
  /** The operation failed; an error value says why where the call has an
      error parameter. */
  ORBISGROVE_ERROR_FAILED = 3
} orbisgrove_status;

/* ---------------------------------------------------------------- errors */

/** An immutable error value: domain, code and user information. */
typedef struct orbisgrove_error orbisgrove_error;

/**
 * Adds a reference.
 * @param error The error, or NULL.
 * @return @p error.
 */
orbisgrove_error* orbisgrove_error_retain(orbisgrove_error* error);
/**
 * Drops a reference; the last one frees the error.
 * @param error The error, or NULL.
 */
void orbisgrove_error_release(orbisgrove_error* error);
/**
 * The error's domain, e.g. ::ORBISGROVE_URL_ERROR_DOMAIN.
 * @param error The error.
 * @return Text owned by the error; never NULL.
 */
const char* orbisgrove_error_domain(const orbisgrove_error* error);
/**
 * The error's code within its domain.
 * @param error The error.
 * @return The code (the kit's own domain uses -1).
 */
int64_t orbisgrove_error_code(const orbisgrove_error* error);
/**
 * The HTTP status of the reply the error was built from, kept beside the user
 * information: a gateway's page (a 429 or 503 that is not the service's
 * JSON) keeps the JSON decoder's domain and code, and its status is read here.
 * @param error The error.
 * @return The status, or 0 when no reply came with the error.
 */
int64_t orbisgrove_error_http_status(const orbisgrove_error* error);
/**
 * Why the operation failed, in words.
 * @param error The error.
 * @return Text owned by the error, or NULL when it has none.
 */
const char* orbisgrove_error_failure_reason(const orbisgrove_error* error);
/**
 * What the user may do about it, in words (e.g. when to retry).
 * @param error The error.
 * @return Text owned by the error, or NULL when it has none.
 */
const char* orbisgrove_error_recovery_suggestion(const orbisgrove_error* error);
/**
 * The lower-level error that caused this one.
 * @param error The error.
 * @return A borrowed handle valid while @p error lives, or NULL.
 */
orbisgrove_error* orbisgrove_error_underlying(const orbisgrove_error* error);
/**
 * A text entry of the user information.
 * @param error The error.
 * @param key The entry's key, exact case.
 * @return Text owned by the error, or NULL when there is no entry under
 *         @p key or it does not hold text.
 */
const char* orbisgrove_error_user_info_text(const orbisgrove_error* error, const char* key);
/**
 * One line for logs: domain, code and failure reason.
 * @param error The error.
 * @return Text owned by the error; never NULL.
 */
const char* orbisgrove_error_description(const orbisgrove_error* error);

/** What a failed submission's error says about the report: whether sending it
    again could make a second copy on the service. */
typedef enum orbisgrove_submission_failure {
  /** Nothing of the request left the device: sending again is safe. */
  ORBISGROVE_SUBMISSION_NEVER_SENT = 0,
  /** The service answered 429 and did not store it: send again after its
      reset time. */
  ORBISGROVE_SUBMISSION_RATE_LIMITED = 1,
  /** The service answered with its error envelope and a 5xx status and did
      not store it: send again later. */
  ORBISGROVE_SUBMISSION_SERVICE_UNAVAILABLE = 2,
  /** The service refused it: sending again gets the same answer. */
  ORBISGROVE_SUBMISSION_REFUSED_BY_SERVICE = 3,
  /** It may have reached the service, but no verdict came back: sending
      again may make a second copy. */
  ORBISGROVE_SUBMISSION_NO_VERDICT = 4
} orbisgrove_submission_failure;
/**
 * Classifies an error a submission delivered. Errors the kit did not build
 * fall back on their domain and code; where those cannot rule out that the
 * report arrived, the answer is ::ORBISGROVE_SUBMISSION_NO_VERDICT.
 * @param error The error.
 * @return Its class.
 */
orbisgrove_submission_failure orbisgrove_error_submission_failure(const orbisgrove_error* error);

/* ------------------------------------------------------------ categories */

/** A report category record: reportId, reportName, parentId and created,
    each of which may be absent. */
typedef struct orbisgrove_category orbisgrove_category;
/** An immutable list of category records, in the service's order. */
typedef struct orbisgrove_category_list orbisgrove_category_list;

/**
 * Decodes a category record from a JSON object ("reportId", "reportName",
 * "parentId" as strings or null; "created" as an integer or null; missing
 * keys read as absent).
 * @param json The JSON text; need not be NUL-terminated.
 * @param length Bytes of @p json.
 * @param[out] category Receives a new record (one reference) on success,
 *             NULL otherwise.
 * @param[out] error Receives, when not NULL, a new error value (one
 *             reference) when the call fails, NULL otherwise.
 * @return ::ORBISGROVE_OK, ::ORBISGROVE_ERROR_FAILED for text that is no such
 *         record (the error is in the JSON coding domain),
 *         ::ORBISGROVE_ERROR_INVALID_ARGUMENT or ::ORBISGROVE_ERROR_OUT_OF_MEMORY.
 */
orbisgrove_status orbisgrove_category_decode(const char* json, size_t length, orbisgrove_category** category,
                                             orbisgrove_error** error);
/**
 * Adds a reference.
 * @param category The record, or NULL.
 * @return @p category.
 */
orbisgrove_category* orbisgrove_category_retain(orbisgrove_category* category);
/**
 * Drops a reference; the last one frees the record.
 * @param category The record, or NULL.
 */
void orbisgrove_category_release(orbisgrove_category* category);
/**
 * The category's identifier.
 * @param category The record.
 * @param[out] length Receives, when not NULL, the text's length in bytes
 *             (texts may hold NUL bytes); 0 when absent.
 * @return Text owned by the record, or NULL when absent.
 */
const char* orbisgrove_category_report_id(const orbisgrove_category* category, size_t* length);
/**
 * The category's display name.
 * @param category The record.
 * @param[out] length As for orbisgrove_category_report_id().
 * @return Text owned by the record, or NULL when absent.
 */
const char* orbisgrove_category_report_name(const orbisgrove_category* category, size_t* length);
/**
 * The parent's identifier ("0" for a top-level category).
 * @param category The record.
 * @param[out] length As for orbisgrove_category_report_id().
 * @return Text owned by the record, or NULL when absent.
 */
const char* orbisgrove_category_parent_id(const orbisgrove_category* category, size_t* length);
/**
 * The service's creation number.
 * @param category The record.
 * @param[out] value Receives the number when present; may be NULL.
 * @return 1 when present as a signed 64-bit integer, 0 otherwise.
 */
int orbisgrove_category_created(const orbisgrove_category* category, int64_t* value);
/**
 * Sets the identifier.
 * @param category The record.
 * @param report_id The new text (copied), or NULL for absent.
 * @return ::ORBISGROVE_OK, ::ORBISGROVE_ERROR_INVALID_ARGUMENT or
 *         ::ORBISGROVE_ERROR_OUT_OF_MEMORY (the field is then unchanged).
 */
orbisgrove_status orbisgrove_category_set_report_id(orbisgrove_category* category, const char* report_id);
/**
 * Sets the display name.
 * @param category The record.
 * @param report_name The new text (copied), or NULL for absent.
 * @return As for orbisgrove_category_set_report_id().
 */
orbisgrove_status orbisgrove_category_set_report_name(orbisgrove_category* category, const char* report_name);
/**
 * Sets the parent's identifier.
 * @param category The record.
 * @param parent_id The new text (copied), or NULL for absent.
 * @return As for orbisgrove_category_set_report_id().
 */
orbisgrove_status orbisgrove_category_set_parent_id(orbisgrove_category* category, const char* parent_id);
/**
 * Sets the creation number.
 * @param category The record.
 * @param present 0 makes the field absent; otherwise it becomes @p value.
 * @param value The number.
 * @return As for orbisgrove_category_set_report_id().
 */
orbisgrove_status orbisgrove_category_set_created(orbisgrove_category* category, int present, int64_t value);

/**
 * Adds a reference.
 * @param list The list, or NULL.
 * @return @p list.
 */
orbisgrove_category_list* orbisgrove_category_list_retain(orbisgrove_category_list* list);
/**
 * Drops a reference; the last one frees the list (records still retained
 * elsewhere live on).
 * @param list The list, or NULL.
 */
void orbisgrove_category_list_release(orbisgrove_category_list* list);
/**
 * Number of records.
 * @param list The list.
 * @return The count (0 for an empty list).
 */
size_t orbisgrove_category_list_count(const orbisgrove_category_list* list);
/**
 * A record of the list. The same index always gives the same handle, so
 * handles compare by identity as the records do.
 * @param list The list.
 * @param index Below orbisgrove_category_list_count().
 * @return A borrowed handle valid while @p list lives, or NULL for an index
 *         out of range.
 */
orbisgrove_category* orbisgrove_category_list_at(const orbisgrove_category_list* list, size_t index);

/* ------------------------------------------------------------- user data */

/** The record the service created for a submitted report: dataCount, name,
    exist, id, listId, time and url, each of which may be absent. */
typedef struct orbisgrove_user_data orbisgrove_user_data;

/**
 * Decodes a user data record from a JSON object ("dataCount", "exist",
 * "listId" as integers or null; "name", "id", "time", "url" as strings or
 * null; missing keys read as absent).
 * @param json The JSON text; need not be NUL-terminated.
 * @param length Bytes of @p json.
 * @param[out] user_data Receives a new record (one reference) on success,
 *             NULL otherwise.
 * @param[out] error As for orbisgrove_category_decode().
 * @return As for orbisgrove_category_decode().
 */
orbisgrove_status orbisgrove_user_data_decode(const char* json, size_t length, orbisgrove_user_data** user_data,
                                              orbisgrove_error** error);
/**
 * Adds a reference.
 * @param user_data The record, or NULL.
 * @return @p user_data.
 */
orbisgrove_user_data* orbisgrove_user_data_retain(orbisgrove_user_data* user_data);
/**
 * Drops a reference; the last one frees the record.
 * @param user_data The record, or NULL.
 */
void orbisgrove_user_data_release(orbisgrove_user_data* user_data);
/**
 * The dataCount field.
 * @param user_data The record.
 * @param[out] value Receives the number when present; may be NULL.
 * @return 1 when present as a signed 64-bit integer, 0 otherwise.
 */
int orbisgrove_user_data_data_count(const orbisgrove_user_data* user_data, int64_t* value);
/**
 * The exist field.
 * @param user_data The record.
 * @param[out] value Receives the number when present; may be NULL.
 * @return 1 when present as a signed 64-bit integer, 0 otherwise.
 */
int orbisgrove_user_data_exist(const orbisgrove_user_data* user_data, int64_t* value);
/**
 * The listId field.
 * @param user_data The record.
 * @param[out] value Receives the number when present; may be NULL.
 * @return 1 when present as a signed 64-bit integer, 0 otherwise.
 */
int orbisgrove_user_data_list_id(const orbisgrove_user_data* user_data, int64_t* value);
/**
 * The name field.
 * @param user_data The record.
 * @param[out] length Receives, when not NULL, the length in bytes; 0 when absent.
 * @return Text owned by the record, or NULL when absent.
 */
const char* orbisgrove_user_data_name(const orbisgrove_user_data* user_data, size_t* length);
/**
 * The id field: the service's identifier of the saved report.
 * @param user_data The record.
 * @param[out] length Receives, when not NULL, the length in bytes; 0 when absent.
 * @return Text owned by the record, or NULL when absent.
 */
const char* orbisgrove_user_data_id(const orbisgrove_user_data* user_data, size_t* length);
/**
 * The time field.
 * @param user_data The record.
 * @param[out] length Receives, when not NULL, the length in bytes; 0 when absent.
 * @return Text owned by the record, or NULL when absent.
 */
const char* orbisgrove_user_data_time(const orbisgrove_user_data* user_data, size_t* length);
/**
 * The url field.
 * @param user_data The record.
 * @param[out] length Receives, when not NULL, the length in bytes; 0 when absent.
 * @return Text owned by the record, or NULL when absent.
 */
const char* orbisgrove_user_data_url(const orbisgrove_user_data* user_data, size_t* length);

/* --------------------------------------------------------------- options */

/** Latitude then longitude, in degrees. */
typedef struct orbisgrove_coordinate {
  double latitude;  /**< Degrees north. */
  double longitude; /**< Degrees east. */
} orbisgrove_coordinate;

/** What a host fills in to submit one report: position, category and
    sub-category, the user's text and an optional module id. */
typedef struct orbisgrove_options orbisgrove_options;

/**
 * Makes an options record from a coordinate.
 * @param coordinate Where on the map.
 * @param parent_category The category (retained, not copied), or NULL.
 * @param child_category The sub-category (retained, not copied), or NULL.
 * @param description The user's text (copied); NULL reads as "".
 * @param module_id The host module raising the report (copied), or NULL for
 *        none.
 * @return A new record (one reference), or NULL when memory ran out.
 */
orbisgrove_options* orbisgrove_options_create_with_coordinate(orbisgrove_coordinate coordinate,
                                                              orbisgrove_category* parent_category,
                                                              orbisgrove_category* child_category,
                                                              const char* description, const char* module_id);
/**
 * Makes an options record from a position fix's latitude and longitude.
 * @param latitude Degrees north.
 * @param longitude Degrees east.
 * @param parent_category As for orbisgrove_options_create_with_coordinate().
 * @param child_category As for orbisgrove_options_create_with_coordinate().
 * @param description As for orbisgrove_options_create_with_coordinate().
 * @param module_id As for orbisgrove_options_create_with_coordinate().
 * @return A new record (one reference), or NULL when memory ran out.
 */
orbisgrove_options* orbisgrove_options_create_with_location(double latitude, double longitude,
                                                            orbisgrove_category* parent_category,
                                                            orbisgrove_category* child_category,
                                                            const char* description, const char* module_id);
/**
 * Adds a reference.
 * @param options The record, or NULL.
 * @return @p options.
 */
orbisgrove_options* orbisgrove_options_retain(orbisgrove_options* options);
/**
 * Drops a reference; the last one frees the record and drops its references
 * to the categories.
 * @param options The record, or NULL.
 */
void orbisgrove_options_release(orbisgrove_options* options);
/**
 * The position.
 * @param options The record.
 * @return The coordinate.
 */
orbisgrove_coordinate orbisgrove_options_coordinate(const orbisgrove_options* options);
/**
 * The user's text.
 * @param options The record.
 * @return Text owned by the record; never NULL.
 */
const char* orbisgrove_options_description(const orbisgrove_options* options);
/**
 * The module id.
 * @param options The record.
 * @return Text owned by the record, or NULL when there is none.
 */
const char* orbisgrove_options_module_id(const orbisgrove_options* options);
/**
 * The category: the very handle given to the record.
 * @param options The record.
 * @return A borrowed handle valid while @p options holds it, or NULL.
 */
orbisgrove_category* orbisgrove_options_parent_category(const orbisgrove_options* options);
/**
 * The sub-category: the very handle given to the record.
 * @param options The record.
 * @return A borrowed handle valid while @p options holds it, or NULL.
 */
orbisgrove_category* orbisgrove_options_child_category(const orbisgrove_options* options);
/**
 * Sets the position.
 * @param options The record.
 * @param coordinate The new position.
 */
void orbisgrove_options_set_coordinate(orbisgrove_options* options, orbisgrove_coordinate coordinate);
/**
 * Sets the user's text.
 * @param options The record.
 * @param description The new text (copied); NULL reads as "".
 * @return ::ORBISGROVE_OK, ::ORBISGROVE_ERROR_INVALID_ARGUMENT or
 *         ::ORBISGROVE_ERROR_OUT_OF_MEMORY (the field is then unchanged).
 */
orbisgrove_status orbisgrove_options_set_description(orbisgrove_options* options, const char* description);
/**
 * Sets the module id.
 * @param options The record.
 * @param module_id The new text (copied), or NULL for none.
 * @return As for orbisgrove_options_set_description().
 */
orbisgrove_status orbisgrove_options_set_module_id(orbisgrove_options* options, const char* module_id);
/**
 * Sets the category; the record retains the new one and releases the old.
 * @param options The record.
 * @param category The category, or NULL.
 */
void orbisgrove_options_set_parent_category(orbisgrove_options* options, orbisgrove_category* category);
/**
 * Sets the sub-category; the record retains the new one and releases the old.
 * @param options The record.
 * @param category The sub-category, or NULL.
 */
void orbisgrove_options_set_child_category(orbisgrove_options* options, orbisgrove_category* category);

/* -------------------------------------------------------------- requests */

/**
 * Receives the answer to orbisgrove_get_report_categories(): a list (possibly
 * empty) and no error; no list and an error; or neither (the service answered
 * without a list).
 * @param context The pointer given with the request.
 * @param categories Borrowed for the call, or NULL.
 * @param error Borrowed for the call, or NULL.
 */
typedef void (*orbisgrove_categories_callback)(void* context, orbisgrove_category_list* categories,
                                               orbisgrove_error* error);

/**
 * Asks the shared kit for the report categories: at once from the device
 * cache while its list is younger than 8 days, otherwise from the service.
 *
 * Reads the cache on the calling thread (and writes its path to the
 * console). A cached list reaches @p callback on the calling thread before
 * this call returns; otherwise @p callback runs later on the main queue.
 * When this call returns ::ORBISGROVE_OK, @p callback runs exactly once;
 * otherwise never. The request cannot be cancelled.
 * @param callback Receives the answer; not NULL.
 * @param context Passed to @p callback; must stay valid until it runs.
 * @return ::ORBISGROVE_OK, ::ORBISGROVE_ERROR_INVALID_ARGUMENT or
 *         ::ORBISGROVE_ERROR_OUT_OF_MEMORY.
 */
orbisgrove_status orbisgrove_get_report_categories(orbisgrove_categories_callback callback, void* context);

/** A client that submits reports to one service host. */
typedef struct orbisgrove_save_client orbisgrove_save_client;
/** A running (or finished) submission. */
typedef struct orbisgrove_task orbisgrove_task;

/**
 * Receives the outcome of orbisgrove_save_user_data(): the record the service
 * created and no error (the record may be NULL when the reply had none), or
 * no record and an error.
 * @param context The pointer given with the submission.
 * @param user_data Borrowed for the call, or NULL.
 * @param error Borrowed for the call, or NULL.
 */
typedef void (*orbisgrove_save_callback)(void* context, orbisgrove_user_data* user_data, orbisgrove_error* error);

/**
 * The process-wide client of the default service host (or of the host given
 * to orbisgrove_set_service_host()).
 * @return A handle that is never freed; retaining and releasing it is
 *         allowed and does nothing.
 */
orbisgrove_save_client* orbisgrove_save_client_shared(void);
/**
 * Makes a client of its own host (`initWithHost`).
 * @param host A host name, IPv4 address or bracketed IPv6 address, with an
 *        optional ":port" (copied); NULL for the default service host.
 * @param[out] client Receives a new client (one reference) on success, NULL
 *             otherwise.
 * @return ::ORBISGROVE_OK, ::ORBISGROVE_ERROR_INVALID_ARGUMENT for text from
 *         which no https URL can be formed (empty, white space, a scheme, a
 *         path, "@"), or ::ORBISGROVE_ERROR_OUT_OF_MEMORY.
 */
orbisgrove_status orbisgrove_save_client_create(const char* host, orbisgrove_save_client** client);
/**
 * Adds a reference.
 * @param client The client, or NULL.
 * @return @p client.
 */
orbisgrove_save_client* orbisgrove_save_client_retain(orbisgrove_save_client* client);
/**
 * Drops a reference; the last one frees the client. Submissions it started
 * run on to their end.
 * @param client The client, or NULL.
 */
void orbisgrove_save_client_release(orbisgrove_save_client* client);

/**
 * Submits one report with one HTTPS request; never retried.
 *
 * The options record and the bundle identifier are read before this call
 * returns; later changes do not reach the request. When this call returns
 * ::ORBISGROVE_OK, @p callback runs exactly once, on the main queue, never
 * before this call returns; otherwise never.
 * @param client The client; NULL for orbisgrove_save_client_shared().
 * @param options What to submit; not NULL.
 * @param callback Receives the outcome; not NULL.
 * @param context Passed to @p callback; must stay valid until it runs.
 * @param[out] task Receives, when not NULL, the running task (one reference).
 *             Releasing it does not cancel the submission.
 * @return ::ORBISGROVE_OK, ::ORBISGROVE_ERROR_INVALID_ARGUMENT or
 *         ::ORBISGROVE_ERROR_OUT_OF_MEMORY.
 */
orbisgrove_status orbisgrove_save_user_data(orbisgrove_save_client* client, const orbisgrove_options* options,
                                            orbisgrove_save_callback callback, void* context, orbisgrove_task** task);
/**
 * Adds a reference.
 * @param task The task, or NULL.
 * @return @p task.
 */
orbisgrove_task* orbisgrove_task_retain(orbisgrove_task* task);
/**
 * Drops a reference; the last one frees the handle. The submission itself
 * runs on.
 * @param task The task, or NULL.
 */
void orbisgrove_task_release(orbisgrove_task* task);
/**
 * Cancels the submission if it has not ended yet: its callback then runs
 * once, on the main queue, with a transport error of code
 * ::ORBISGROVE_URL_ERROR_CANCELLED. Does nothing once it has ended. Any
 * thread.
 * @param task The task, or NULL.
 */
void orbisgrove_task_cancel(orbisgrove_task* task);

/* ------------------------------------------------------------ main queue */

/** A closure of the main queue handed to a dispatcher. */
typedef struct orbisgrove_closure orbisgrove_closure;

/**
 * Runs, on the calling thread, the closures pending now (closures posted
 * meanwhile wait for the next call). The calling thread becomes the main
 * thread. A closure that fails with an exception (the kit's own do not) is
 * written to the console; the closures after it stay pending.
 * @return How many closures ran; 0 when one of them failed.
 */
size_t orbisgrove_main_queue_drain(void);
/**
 * Predicate of orbisgrove_main_queue_run_until().
 * @param context The pointer given to orbisgrove_main_queue_run_until().
 * @return Non-zero when the wait is over.
 */
typedef int (*orbisgrove_done_predicate)(void* context);
/**
 * Runs closures on the calling thread as they arrive until @p done returns
 * non-zero or @p timeout_ms milliseconds have passed. The calling thread
 * becomes the main thread.
 * @param done The predicate, checked before and after each closure; NULL
 *        waits for the whole time-out.
 * @param context Passed to @p done.
 * @param timeout_ms Milliseconds to wait at most; negative counts as 0.
 * @return Non-zero when @p done held at the end.
 */
int orbisgrove_main_queue_run_until(orbisgrove_done_predicate done, void* context, int64_t timeout_ms);
/**
 * Number of closures waiting to be drained (always 0 while a dispatcher is
 * installed).
 * @return The count.
 */
size_t orbisgrove_main_queue_pending_count(void);
/**
 * Whether the calling thread is the main thread: the one draining the queue,
 * or the one running a closure through orbisgrove_closure_run(); before
 * anything drained, the process's initial thread.
 * @return Non-zero on the main thread.
 */
int orbisgrove_is_main_thread(void);
/**
 * Receives each closure posted to the main queue while it is installed, on
 * a posting thread (any thread), one call at a time, in posting order. It
 * must see that
 * orbisgrove_closure_run() is called for the closure exactly once, on the
 * host's main thread.
 * @param context The pointer given to orbisgrove_main_queue_set_dispatcher().
 * @param closure The closure; owned by the host until it is run.
 */
typedef void (*orbisgrove_dispatcher)(void* context, orbisgrove_closure* closure);
/**
 * Hands the main queue to the host's own event loop (a GUI or game loop).
 * Closures already pending go to the dispatcher at once, ahead of later ones.
 * Returns once no other thread is inside the dispatcher it replaces; called
 * from within that dispatcher, it does not wait for itself.
 * @param dispatcher The dispatcher; NULL removes it (later closures wait to
 *        be drained again).
 * @param context Passed to @p dispatcher; may be freed once the call that
 *        removes or replaces @p dispatcher has returned.
 * @return ::ORBISGROVE_OK or ::ORBISGROVE_ERROR_OUT_OF_MEMORY.
 */
orbisgrove_status orbisgrove_main_queue_set_dispatcher(orbisgrove_dispatcher dispatcher, void* context);
/**
 * Runs a closure handed to a dispatcher, then frees it. Call it on the
 * host's main thread; while it runs, orbisgrove_is_main_thread() holds there.
 * A failure inside the closure is written to the console.
 * @param closure The closure; invalid after the call.
 */
void orbisgrove_closure_run(orbisgrove_closure* closure);
/**
 * Frees a closure without running it: the completion it carries never runs.
 * Only for a host loop shutting down.
 * @param closure The closure, or NULL; invalid after the call.
 */
void orbisgrove_closure_discard(orbisgrove_closure* closure);

/* -------------------------------------------------------------- settings */

/**
 * The version of the library loaded at run time, "MAJOR.MINOR.PATCH"; compare
 * it with the version a host was built against to notice a mismatch.
 * @return Text with static storage; never NULL.
 */
const char* orbisgrove_version(void);

/**
 * Uses @p directory (one the application owns) as the temporary directory,
 * where the device cache lives. Without it the kit uses a private directory
 * under $TMPDIR (or /tmp). Make settings before the first request.
 * @param directory The directory (copied).
 * @return ::ORBISGROVE_OK, ::ORBISGROVE_ERROR_INVALID_ARGUMENT or
 *         ::ORBISGROVE_ERROR_OUT_OF_MEMORY.
 */
orbisgrove_status orbisgrove_set_temporary_directory(const char* directory);
/**
 * The application's identity, sent with each submitted report.
 * @param bundle_identifier The identifier (copied), or NULL for none.
 * @return ::ORBISGROVE_OK or ::ORBISGROVE_ERROR_OUT_OF_MEMORY.
 */
orbisgrove_status orbisgrove_set_bundle_identifier(const char* bundle_identifier);
/**
 * Trusts the certificate authorities of a PEM file in addition to the
 * system's store, for every later request. A file that cannot be read makes
 * later requests fail with a secure-connection error rather than trust less.
 * @param pem_file The file's path (copied).
 * @return ::ORBISGROVE_OK, ::ORBISGROVE_ERROR_INVALID_ARGUMENT or
 *         ::ORBISGROVE_ERROR_OUT_OF_MEMORY.
 */
orbisgrove_status orbisgrove_add_trusted_certificates(const char* pem_file);
/**
 * Receives one console line of the kit, on any thread.
 * @param context The pointer given to orbisgrove_set_console_sink().
 * @param line The line without line break, NUL-terminated; valid during the
 *        call.
 * @param length The line's length in bytes.
 */
typedef void (*orbisgrove_console_sink)(void* context, const char* line, size_t length);
/**
 * Sends the kit's console lines to @p sink instead of standard error.
 * @param sink The sink; NULL restores standard error.
 * @param context Passed to @p sink; must stay valid while installed.
 * @return ::ORBISGROVE_OK or ::ORBISGROVE_ERROR_OUT_OF_MEMORY.
 */
orbisgrove_status orbisgrove_set_console_sink(orbisgrove_console_sink sink, void* context);
/**
 * Points both shared clients (categories and submissions) at
 * https://HOST; requests already running keep their host.
 * @param host A host name, IPv4 address or bracketed IPv6 address with an
 *        optional ":port" (copied).
 * @return ::ORBISGROVE_OK, ::ORBISGROVE_ERROR_INVALID_ARGUMENT for NULL or for
 *         text from which no https URL can be formed (nothing changes then),
 *         or ::ORBISGROVE_ERROR_OUT_OF_MEMORY.
 */
orbisgrove_status orbisgrove_set_service_host(const char* host);

/**
 * Sends later requests of the kit's own (libcurl) session through a proxy.
 * Without this call the session follows the environment as libcurl does:
 * https_proxy (or HTTPS_PROXY, else all_proxy or ALL_PROXY) names the proxy,
 * no_proxy (or NO_PROXY) the hosts reached directly; http_proxy plays no
 * part, as every request is https.
 * @param proxy_url NULL: follow the environment (the default); "": connect
 *        directly, whatever the environment says; otherwise the proxy's URL
 *        ("http://proxy.example:3128"), used for every host (copied).
 * @return ::ORBISGROVE_OK or ::ORBISGROVE_ERROR_OUT_OF_MEMORY.
 */
orbisgrove_status orbisgrove_set_proxy(const char* proxy_url);
/**
 * Pins the public keys the kit's own session accepts from servers, for later
 * requests. A server whose certificate's key matches no pin fails the request
 * with code -1202 (untrusted certificate); the chain is still verified too.
 * @param pins Each "sha256//" and the base64 text of the SHA-256 digest of a
 *        key's DER SubjectPublicKeyInfo (copied); may be NULL when @p count is 0.
 * @param count Number of pins; 0 ends pinning.
 * @return ::ORBISGROVE_OK, ::ORBISGROVE_ERROR_INVALID_ARGUMENT (a pin of
 *         another form; nothing changes) or ::ORBISGROVE_ERROR_OUT_OF_MEMORY.
 */
orbisgrove_status orbisgrove_set_pinned_public_keys(const char* const* pins, size_t count);

/* ------------------------------------------------------------- transport */

/** One request the kit hands to the host's transport. */
typedef struct orbisgrove_transport_request orbisgrove_transport_request;

/** One header field of a reply, NUL-terminated texts. */
typedef struct orbisgrove_header_field {
  /** The name as the transport has it. */
  const char* name;
  /** The value. */
  const char* value;
} orbisgrove_header_field;

/** A host's own HTTPS transport: a table of two functions and their context. */
typedef struct orbisgrove_transport {
  /**
   * Starts @p request and returns soon, without waiting for it. Called on the
   * kit's transport thread, one call at a time. The host receives one
   * reference to @p request and ends it with
   * orbisgrove_transport_request_release() once it has answered (or been
   * cancelled). Answer exactly once, from any thread, with
   * orbisgrove_transport_request_reply() or orbisgrove_transport_request_fail().
   */
  void (*start)(void* context, orbisgrove_transport_request* request);
  /**
   * Stops @p request (borrowed for the call). Called on the kit's transport
   * thread once the kit has ended the request itself (cancelled, or timed
   * out) and completed it as such; an answer that still comes is ignored.
   * May be NULL.
   */
  void (*cancel)(void* context, orbisgrove_transport_request* request);
  /** Passed to both functions; must stay valid for the life of the process. */
  void* context;
} orbisgrove_transport;

/**
 * Makes @p transport the one every later request of the kit goes through,
 * instead of its own libcurl session. Call it before the first request and
 * before the outbox's first use. Trust, proxy and pin settings are then the
 * transport's business.
 * @param transport The table (copied); its start function must not be NULL.
 * @param[out] error Receives, when not NULL, why it failed (one reference).
 * @return ::ORBISGROVE_OK; ::ORBISGROVE_ERROR_FAILED once the kit's session has
 *         been used (the transport cannot change any more);
 *         ::ORBISGROVE_ERROR_INVALID_ARGUMENT or ::ORBISGROVE_ERROR_OUT_OF_MEMORY.
 */
orbisgrove_status orbisgrove_set_transport(const orbisgrove_transport* transport, orbisgrove_error** error);
/**
 * Option of orbisgrove_set_transport_with_options(): the transport calls
 * orbisgrove_transport_request_send_starting() for every request. Without
 * it, a request counts as going out when start is called.
 */
#define ORBISGROVE_TRANSPORT_REPORTS_SEND_START 1u
/**
 * orbisgrove_set_transport() with options. The table keeps its layout, so a
 * host built against an older header is read as it was written.
 * @param transport As for orbisgrove_set_transport().
 * @param options 0, or ::ORBISGROVE_TRANSPORT_REPORTS_SEND_START.
 * @param[out] error As for orbisgrove_set_transport().
 * @return As for orbisgrove_set_transport(); ::ORBISGROVE_ERROR_INVALID_ARGUMENT
 *         also for an option this kit does not know.
 */
orbisgrove_status orbisgrove_set_transport_with_options(const orbisgrove_transport* transport, unsigned options,
                                                        orbisgrove_error** error);
/** The method, "GET" or "POST"; valid while @p request lives. */
const char* orbisgrove_transport_request_method(const orbisgrove_transport_request* request);
/** The absolute https URL; valid while @p request lives. */
const char* orbisgrove_transport_request_url(const orbisgrove_transport_request* request);
/** Number of header fields to send (exactly these, plus what the protocol needs). */
size_t orbisgrove_transport_request_header_count(const orbisgrove_transport_request* request);
/** Header field @p index (below the count); texts valid while @p request lives. */
orbisgrove_header_field orbisgrove_transport_request_header(const orbisgrove_transport_request* request, size_t index);
/** The body bytes; @p length receives their number. Valid while @p request lives. */
const char* orbisgrove_transport_request_body(const orbisgrove_transport_request* request, size_t* length);
/** Seconds the whole request may take; past them the kit ends it itself (code -1001) and cancels it. */
double orbisgrove_transport_request_timeout(const orbisgrove_transport_request* request);
/**
 * Whether the transport may send the request again on its own (a retry on a
 * new connection). 0 for submissions: the body must reach the server at most
 * once; where a resend would be needed, fail with code -1005 and "may have
 * reached the server". Following a 307 or 308 is not a resend: follow it
 * (the body goes to the new URL once) or hand the 3xx over.
 */
int orbisgrove_transport_request_allows_resend(const orbisgrove_transport_request* request);
/**
 * Tells the kit that @p request starts to go out: call it, with
 * ::ORBISGROVE_TRANSPORT_REPORTS_SEND_START, once the connection is ready and
 * before the request's first byte is written (again before each redirected
 * request), on any thread. Returns once the kit has recorded it (the outbox
 * commits that to disk: it may take a disk sync).
 * @param request The request.
 * @return 1: send it. 0: send nothing and fail the request with
 *         may_have_reached_server 0; the kit has ended or answered it
 *         (cancelled, timed out), the process has begun to exit, or the
 *         record could not be made.
 */
int orbisgrove_transport_request_send_starting(orbisgrove_transport_request* request);
/**
 * Answers @p request with a reply that arrived whole.
 * @param request The request.
 * @param status_code The HTTP status.
 * @param fields The reply's header fields, names as received; may be NULL
 *        when @p field_count is 0. The kit looks names up exactly as given.
 * @param field_count Number of @p fields.
 * @param body The body, its Content-Encoding undone; may be NULL when
 *        @p body_length is 0.
 * @param body_length Bytes of @p body.
 * @param http_major_version 1 for HTTP/1.x; 2 or 3 when the names came in
 *        lower case (the kit then capitalises each dash-separated word).
 * @return ::ORBISGROVE_OK; ::ORBISGROVE_ERROR_FAILED when the request was
 *         answered or ended already (the answer is ignored);
 *         ::ORBISGROVE_ERROR_INVALID_ARGUMENT or ::ORBISGROVE_ERROR_OUT_OF_MEMORY.
 */
orbisgrove_status orbisgrove_transport_request_reply(orbisgrove_transport_request* request, int64_t status_code,
                                                     const orbisgrove_header_field* fields, size_t field_count,
                                                     const char* body, size_t body_length, int http_major_version);
/**
 * Answers @p request with a failed transfer.
 * @param request The request.
 * @param url_error_code A code of the URL-loading domain (-1001 timed out,
 *        -1003 host not found, -1004 cannot connect, -1005 connection lost,
 *        -1200 secure connection failed, -1202 untrusted certificate, ...).
 * @param may_have_reached_server 0 only when nothing of the request can have
 *        left the device.
 * @param reason What failed, in words, or NULL.
 * @return As for orbisgrove_transport_request_reply().
 */
orbisgrove_status orbisgrove_transport_request_fail(orbisgrove_transport_request* request, int64_t url_error_code,
                                                    int may_have_reached_server, const char* reason);
/** Adds a reference; NULL is allowed. @return @p request. */
orbisgrove_transport_request* orbisgrove_transport_request_retain(orbisgrove_transport_request* request);
/** Drops a reference; NULL is allowed. */
void orbisgrove_transport_request_release(orbisgrove_transport_request* request);

/* -------------------------------------------------------- text formatter */

/**
 * Where a host's formatter writes one text; valid only during the call it is
 * passed to.
 */
typedef struct orbisgrove_text_sink orbisgrove_text_sink;
/**
 * Appends @p length bytes of UTF-8 text to @p sink (copied before the call
 * returns); several writes make one text. Writing nothing makes an empty text.
 */
void orbisgrove_text_sink_write(orbisgrove_text_sink* sink, const char* text, size_t length);

/**
 * A host's own locale-aware formatting (on Android the app's java.text and
 * java.time formatters, on iOS its Foundation formatters): a table of
 * functions and their context. The kit calls them on any thread it formats
 * on, possibly on several at once. A NULL function leaves that operation to
 * the kit's default formatter (ICU's, or the built-in English one in a build
 * without ICU). A function must return normally.
 */
typedef struct orbisgrove_text_formatter {
  /** Writes the reason phrase of an HTTP status code in lower case ("not found"). */
  void (*reason_phrase)(void* context, int64_t status_code, orbisgrove_text_sink* sink);
  /** Writes the moment in long date and long time style, in the current time zone. */
  void (*long_date_time)(void* context, double seconds_since_1970, orbisgrove_text_sink* sink);
  /**
   * Writes the duration in full units style ("1 minute, 30 seconds") and
   * returns 1, or returns 0 when it has none (what it wrote is then ignored
   * and the kit writes the number and " seconds").
   */
  int (*full_duration)(void* context, double seconds, orbisgrove_text_sink* sink);
  /** Writes the number in decimal style ("1,000"). */
  void (*decimal)(void* context, uint64_t value, orbisgrove_text_sink* sink);
  /**
   * Sets @p days to the whole days from one moment to the other by the
   * current calendar and returns 1, or returns 0 when it cannot count them.
   */
  int (*whole_days_between)(void* context, double from_seconds_since_1970, double to_seconds_since_1970, int64_t* days);
  /** Passed to every function; must stay valid for the life of the process. */
  void* context;
} orbisgrove_text_formatter;

/**
 * Makes @p formatter the one every later text of the kit comes from. Call it
 * before the first request.
 * @param formatter The table (copied); any function may be NULL.
 * @param[out] error Receives, when not NULL, why it failed (one reference).
 * @return ::ORBISGROVE_OK; ::ORBISGROVE_ERROR_FAILED once the kit has formatted
 *         a text or made its session (the formatter cannot change any more);
 *         ::ORBISGROVE_ERROR_INVALID_ARGUMENT for NULL, or
 *         ::ORBISGROVE_ERROR_OUT_OF_MEMORY.
 */
orbisgrove_status orbisgrove_set_text_formatter(const orbisgrove_text_formatter* formatter, orbisgrove_error** error);

/* ---------------------------------------------------------------- outbox */

/** Where a report stored in the outbox stands (see OrbisgroveOutboxEntryState). */
typedef enum orbisgrove_outbox_state {
  /** Waiting for an attempt, or being sent right now. */
  ORBISGROVE_OUTBOX_QUEUED = 0,
  /** The service answered "201". */
  ORBISGROVE_OUTBOX_DELIVERED = 1,
  /** The request may have reached the service; no verdict came back. Never
      sent again unless the host calls orbisgrove_outbox_resend(). */
  ORBISGROVE_OUTBOX_UNCONFIRMED = 2,
  /** The service refused it; never sent again. */
  ORBISGROVE_OUTBOX_REJECTED = 3
} orbisgrove_outbox_state;

/** An immutable snapshot of one outbox entry. */
typedef struct orbisgrove_outbox_entry orbisgrove_outbox_entry;
/** An immutable list of entry snapshots, in stored order. */
typedef struct orbisgrove_outbox_entry_list orbisgrove_outbox_entry_list;

/**
 * Uses @p directory for the kit's lasting data (the outbox's store); see
 * platform::setDataDirectory. Nothing is checked here: the next outbox call
 * returns ::ORBISGROVE_ERROR_FAILED with the error value when the directory
 * cannot be made or other users can enter it (its mode is never changed).
 * @param directory The directory's path (copied).
 * @return ::ORBISGROVE_OK, ::ORBISGROVE_ERROR_INVALID_ARGUMENT or
 *         ::ORBISGROVE_ERROR_OUT_OF_MEMORY.
 */
orbisgrove_status orbisgrove_set_data_directory(const char* directory);
/**
 * Stores a report durably in the shared outbox, built from @p options on the
 * calling thread, then starts delivery. Blocks for the store's commit.
 * @param options The report.
 * @param entry Receives the new entry (the caller owns it), or NULL.
 * @param error Receives why nothing was stored (the caller owns it), or NULL.
 * @return ::ORBISGROVE_OK; ::ORBISGROVE_ERROR_FAILED when not stored;
 *         ::ORBISGROVE_ERROR_INVALID_ARGUMENT or ::ORBISGROVE_ERROR_OUT_OF_MEMORY.
 */
orbisgrove_status orbisgrove_outbox_enqueue(const orbisgrove_options* options, orbisgrove_outbox_entry** entry,
                                            orbisgrove_error** error);
/**
 * Receives what orbisgrove_outbox_enqueue_async() came to, once, on the main queue.
 * @param context The pointer given with the callback.
 * @param entry The new entry as stored, or NULL when nothing was stored.
 *        Borrowed for the call; retain it to keep it.
 * @param error Why nothing was stored, or NULL when the report was stored.
 *        Borrowed for the call; retain it to keep it.
 */
typedef void (*orbisgrove_outbox_enqueue_callback)(void* context, orbisgrove_outbox_entry* entry,
                                                   orbisgrove_error* error);
/**
 * Stores a report in the shared outbox without waiting for the disk (for a
 * UI thread; see OrbisgroveFeedbackOutbox::enqueue with a completion): the
 * report is built from @p options on the calling thread, committed on the
 * kit's store-writes thread, in call order, then delivery starts. Nothing to
 * cancel.
 * @param options The report.
 * @param done Called once on the main queue with the stored entry or with
 *        the error (the store cannot be opened, 1,000 reports already wait;
 *        the process exited before the commit could start). A commit still
 *        under way when the exit budget is spent gets no call. May be NULL.
 *        Not called when this returns other than ::ORBISGROVE_OK.
 * @param context Passed to @p done; must stay valid until then.
 * @param error Receives why the report was refused at once (the process is
 *        exiting; a child made by fork()), or NULL. The caller owns it.
 * @return ::ORBISGROVE_OK when taken; ::ORBISGROVE_ERROR_FAILED when refused
 *         at once; ::ORBISGROVE_ERROR_INVALID_ARGUMENT or ::ORBISGROVE_ERROR_OUT_OF_MEMORY.
 */
orbisgrove_status orbisgrove_outbox_enqueue_async(const orbisgrove_options* options,
                                                  orbisgrove_outbox_enqueue_callback done, void* context,
                                                  orbisgrove_error** error);
/**
 * Every entry of the shared outbox, in stored order; reads on the calling thread.
 * @param list Receives the list (the caller owns it).
 * @param error Receives why the store could not be read (the caller owns it), or NULL.
 * @return ::ORBISGROVE_OK, ::ORBISGROVE_ERROR_FAILED, ::ORBISGROVE_ERROR_INVALID_ARGUMENT
 *         or ::ORBISGROVE_ERROR_OUT_OF_MEMORY.
 */
orbisgrove_status orbisgrove_outbox_entries(orbisgrove_outbox_entry_list** list, orbisgrove_error** error);
/**
 * Called once on the main queue when a delivery pass (or a single entry's
 * attempt) is over.
 * @param context The pointer given with the callback.
 */
typedef void (*orbisgrove_outbox_done_callback)(void* context);
/**
 * The host's "the network is back": tries every queued entry now, except
 * while a 429's reset time lies ahead. Returns at once; nothing to cancel.
 * @param done Called once on the main queue when the pass is over; may be NULL.
 * @param context Passed to @p done; must stay valid until then.
 * @return ::ORBISGROVE_OK or ::ORBISGROVE_ERROR_OUT_OF_MEMORY (then @p done is not called).
 */
orbisgrove_status orbisgrove_outbox_deliver_now(orbisgrove_outbox_done_callback done, void* context);
/**
 * Tries the queued entry @p id now, leaving other entries' waiting times as
 * they are (see OrbisgroveFeedbackOutbox::deliver): nothing starts while a
 * 429's reset time lies ahead or once the process has begun to exit; while
 * another process delivers from the store, the wait lasts until one of the
 * two has tried the entry.
 * @param id The entry's id.
 * @param done Called once on the main queue when that attempt is over or
 *        could not start; may be NULL. Not called when this returns an error.
 * @param context Passed to @p done; must stay valid until then.
 * @param error Receives why nothing was tried (unknown id, store unusable), or NULL.
 * @return ::ORBISGROVE_OK, ::ORBISGROVE_ERROR_FAILED, ::ORBISGROVE_ERROR_INVALID_ARGUMENT
 *         or ::ORBISGROVE_ERROR_OUT_OF_MEMORY.
 */
orbisgrove_status orbisgrove_outbox_deliver(const char* id, orbisgrove_outbox_done_callback done, void* context,
                                            orbisgrove_error** error);
/**
 * Queues an unconfirmed or rejected entry again (the host's choice to risk a
 * second copy), or drops an entry that is not being sent.
 * @param id The entry's id.
 * @param error Receives why it failed (unknown id, wrong state), or NULL.
 * @return ::ORBISGROVE_OK, ::ORBISGROVE_ERROR_FAILED, ::ORBISGROVE_ERROR_INVALID_ARGUMENT
 *         or ::ORBISGROVE_ERROR_OUT_OF_MEMORY.
 */
orbisgrove_status orbisgrove_outbox_resend(const char* id, orbisgrove_error** error);
/** @copydoc orbisgrove_outbox_resend */
orbisgrove_status orbisgrove_outbox_discard(const char* id, orbisgrove_error** error);
/**
 * Receives each entry the outbox's delivery changed, on the main queue.
 * @param context The pointer given to orbisgrove_outbox_set_change_callback().
 * @param entry Borrowed for the call; retain it to keep it.
 */
typedef void (*orbisgrove_outbox_change_callback)(void* context, orbisgrove_outbox_entry* entry);
/**
 * Installs the change callback; NULL removes it. Changes already posted
 * still reach the callback that was set when they happened.
 * @param callback The callback, or NULL.
 * @param context Passed to @p callback; must stay valid while installed.
 * @return ::ORBISGROVE_OK or ::ORBISGROVE_ERROR_OUT_OF_MEMORY.
 */
orbisgrove_status orbisgrove_outbox_set_change_callback(orbisgrove_outbox_change_callback callback, void* context);

/** Adds a reference; NULL is allowed. @return @p entry. */
orbisgrove_outbox_entry* orbisgrove_outbox_entry_retain(orbisgrove_outbox_entry* entry);
/** Drops a reference; NULL is allowed. */
void orbisgrove_outbox_entry_release(orbisgrove_outbox_entry* entry);
/** The entry's id, NUL-terminated, valid while @p entry lives. */
const char* orbisgrove_outbox_entry_id(const orbisgrove_outbox_entry* entry);
/** Where the entry stands. */
orbisgrove_outbox_state orbisgrove_outbox_entry_state(const orbisgrove_outbox_entry* entry);
/** Requests that went out for it. */
int64_t orbisgrove_outbox_entry_attempts(const orbisgrove_outbox_entry* entry);
/** When it was stored, in seconds since 1970. */
double orbisgrove_outbox_entry_created_at(const orbisgrove_outbox_entry* entry);
/** When a queued entry is tried next on its own: 1 and @p seconds set, or 0 for none. */
int orbisgrove_outbox_entry_next_attempt_at(const orbisgrove_outbox_entry* entry, double* seconds);
/** The last attempt's error: borrowed, valid while @p entry lives, or NULL. */
orbisgrove_error* orbisgrove_outbox_entry_last_error(const orbisgrove_outbox_entry* entry);
/** The created record of a delivered entry: borrowed, valid while @p entry lives, or NULL. */
orbisgrove_user_data* orbisgrove_outbox_entry_record(const orbisgrove_outbox_entry* entry);

/** Adds a reference; NULL is allowed. @return @p list. */
orbisgrove_outbox_entry_list* orbisgrove_outbox_entry_list_retain(orbisgrove_outbox_entry_list* list);
/** Drops a reference; NULL is allowed. */
void orbisgrove_outbox_entry_list_release(orbisgrove_outbox_entry_list* list);
/** How many entries the list holds. */
size_t orbisgrove_outbox_entry_list_count(const orbisgrove_outbox_entry_list* list);
/** The entry at @p index: borrowed, valid while @p list lives; NULL out of range. */
orbisgrove_outbox_entry* orbisgrove_outbox_entry_list_at(const orbisgrove_outbox_entry_list* list, size_t index);

#if defined(__GNUC__) && !defined(_WIN32)
#pragma GCC visibility pop
#endif

#ifdef __cplusplus
}
#endif

#endif /* ORBISGROVE_FEEDBACK_H */
