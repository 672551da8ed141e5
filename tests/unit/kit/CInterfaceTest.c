/* The C interface from a C program, against the local HTTPS test service.
 * Built as C99 with -pedantic and linked to the shared library, so it also
 * proves that the interface is exported. Every handle is released before the
 * end: under AddressSanitizer a lost reference is a leak report. */
#define _POSIX_C_SOURCE 200809L

#include <orbisgrove/feedback.h>

#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "CChecks.h"
#include "ServiceHarness.h"

static int textIs(const char* actual, const char* expected) { return actual != NULL && strcmp(actual, expected) == 0; }

static int errorIs(const orbisgrove_error* error, const char* domain, int64_t code) {
  return error != NULL && textIs(orbisgrove_error_domain(error), domain) && orbisgrove_error_code(error) == code;
}

/* What a completion handed over, each handle retained. */
typedef struct Answer {
  int calls;
  int onMainThread;
  orbisgrove_category_list* categories;
  orbisgrove_user_data* userData;
  orbisgrove_error* error;
} Answer;

static void releaseAnswer(Answer* answer) {
  orbisgrove_category_list_release(answer->categories);
  orbisgrove_user_data_release(answer->userData);
  orbisgrove_error_release(answer->error);
  memset(answer, 0, sizeof *answer);
}

static void record(Answer* answer, orbisgrove_error* error) {
  ++answer->calls;
  answer->onMainThread = orbisgrove_is_main_thread();
  answer->error = orbisgrove_error_retain(error);
}

static void onCategories(void* context, orbisgrove_category_list* categories, orbisgrove_error* error) {
  record(context, error);
  ((Answer*)context)->categories = orbisgrove_category_list_retain(categories);
}

static void onSaved(void* context, orbisgrove_user_data* userData, orbisgrove_error* error) {
  record(context, error);
  ((Answer*)context)->userData = orbisgrove_user_data_retain(userData);
}

static int answered(void* context) { return ((Answer*)context)->calls > 0; }

static int waitForAnswer(Answer* answer) { return orbisgrove_main_queue_run_until(answered, answer, 20000); }

/* The other way to wait: drain what is pending, now and then. */
static int drainUntilAnswered(Answer* answer) {
  const struct timespec pause = {0, 10 * 1000 * 1000};
  size_t ran = 0;
  int spins;
  for (spins = 0; answer->calls == 0 && spins < 2000; ++spins) {
    ran += orbisgrove_main_queue_drain();
    if (answer->calls == 0) nanosleep(&pause, NULL);
  }
  return answer->calls > 0 && ran == 1;
}

/* ------------------------------------------------------------- records */

static void testRecordsTellAbsentFromEmpty(void) {
  const char* userJson =
      "{\"dataCount\":3,\"name\":\"\",\"exist\":null,\"id\":\"r-1\",\"listId\":-9,\"time\":\"noon\",\"url\":null}";
  orbisgrove_category* category = decodeCategory("{\"reportId\":\"\",\"parentId\":null,\"created\":7,\"other\":1}");
  orbisgrove_category* nul = decodeCategory("{\"reportName\":\"a\\u0000b\"}");
  orbisgrove_user_data* userData = NULL;
  size_t length = 99;
  int64_t value = 0;

  CHECK(textIs(orbisgrove_category_report_id(category, &length), "") && length == 0);
  CHECK(orbisgrove_category_report_name(category, &length) == NULL && length == 0);
  CHECK(orbisgrove_category_parent_id(category, NULL) == NULL);
  CHECK(orbisgrove_category_created(category, &value) == 1 && value == 7);
  CHECK(orbisgrove_category_report_name(nul, &length) != NULL && length == 3);

  CHECK(orbisgrove_category_set_report_name(category, "Road") == ORBISGROVE_OK);
  CHECK(textIs(orbisgrove_category_report_name(category, NULL), "Road"));
  CHECK(orbisgrove_category_set_report_id(category, NULL) == ORBISGROVE_OK);
  CHECK(orbisgrove_category_report_id(category, NULL) == NULL);
  CHECK(orbisgrove_category_set_parent_id(category, "") == ORBISGROVE_OK);
  CHECK(textIs(orbisgrove_category_parent_id(category, NULL), ""));
  CHECK(orbisgrove_category_set_created(category, 0, 5) == ORBISGROVE_OK);
  CHECK(orbisgrove_category_created(category, NULL) == 0);
  CHECK(orbisgrove_category_set_created(category, 1, INT64_MIN) == ORBISGROVE_OK);
  CHECK(orbisgrove_category_created(category, &value) == 1 && value == INT64_MIN);

  REQUIRE(orbisgrove_user_data_decode(userJson, strlen(userJson), &userData, NULL) == ORBISGROVE_OK);
  CHECK(orbisgrove_user_data_data_count(userData, &value) == 1 && value == 3);
  CHECK(textIs(orbisgrove_user_data_name(userData, NULL), ""));
  CHECK(orbisgrove_user_data_exist(userData, &value) == 0);
  CHECK(textIs(orbisgrove_user_data_id(userData, &length), "r-1") && length == 3);
  CHECK(orbisgrove_user_data_list_id(userData, &value) == 1 && value == -9);
  CHECK(textIs(orbisgrove_user_data_time(userData, NULL), "noon"));
  CHECK(orbisgrove_user_data_url(userData, NULL) == NULL);

  orbisgrove_user_data_release(userData);
  orbisgrove_category_release(nul);
  orbisgrove_category_release(category);
}

static void testDecodingFailuresAreErrorValues(void) {
  orbisgrove_category* category = (orbisgrove_category*)&failedChecks; /* must be reset */
  orbisgrove_user_data* userData = (orbisgrove_user_data*)&failedChecks;
  orbisgrove_error* error = NULL;

  CHECK(orbisgrove_category_decode("{\"reportId\":5}", 14, &category, &error) == ORBISGROVE_ERROR_FAILED);
  CHECK(category == NULL);
  REQUIRE(error != NULL);
  CHECK(errorIs(error, ORBISGROVE_JSON_CODING_ERROR_DOMAIN, 2)); /* type mismatch */
  CHECK(textIs(orbisgrove_error_user_info_text(error, ORBISGROVE_CODING_PATH_KEY), "reportId"));
  CHECK(orbisgrove_error_user_info_text(error, "no such key") == NULL && orbisgrove_error_underlying(error) == NULL);
  CHECK(orbisgrove_error_failure_reason(error) != NULL && orbisgrove_error_recovery_suggestion(error) == NULL);
  CHECK(strstr(orbisgrove_error_description(error), ORBISGROVE_JSON_CODING_ERROR_DOMAIN) != NULL);
  orbisgrove_error_release(error);

  /* Not JSON at all; the caller did not ask for the error. */
  CHECK(orbisgrove_user_data_decode("[", 1, &userData, NULL) == ORBISGROVE_ERROR_FAILED && userData == NULL);
  CHECK(orbisgrove_user_data_decode("[", 1, NULL, NULL) == ORBISGROVE_ERROR_INVALID_ARGUMENT);
}

static orbisgrove_options* reportOptions(const char* moduleId) {
  orbisgrove_category* parent = decodeCategory("{\"reportId\":\"1\",\"reportName\":\"Road\"}");
  orbisgrove_category* child = decodeCategory("{\"reportId\":\"101\",\"reportName\":\"Closed\"}");
  orbisgrove_options* options =
      orbisgrove_options_create_with_location(52.5, 13.25, parent, child, "Gate is locked", moduleId);
  REQUIRE(options != NULL);
  /* The options keep their categories alive. */
  orbisgrove_category_release(parent);
  orbisgrove_category_release(child);
  return options;
}

static void testOptionsHoldTheCategoriesGivenToThem(void) {
  orbisgrove_coordinate where = {48.1, 11.5};
  orbisgrove_options* options = reportOptions(NULL);
  orbisgrove_options* other = orbisgrove_options_create_with_coordinate(where, NULL, NULL, "text", "");
  REQUIRE(other != NULL);

  CHECK(orbisgrove_options_module_id(options) == NULL && textIs(orbisgrove_options_module_id(other), ""));
  CHECK(textIs(orbisgrove_category_report_name(orbisgrove_options_child_category(options), NULL), "Closed"));
  orbisgrove_options_set_parent_category(other, orbisgrove_options_child_category(options));
  orbisgrove_options_set_child_category(options, NULL);
  CHECK(textIs(orbisgrove_category_report_id(orbisgrove_options_parent_category(other), NULL), "101"));

  orbisgrove_options_release(options);
  orbisgrove_options_release(other);
}

/* ------------------------------------------------------------ requests */

/* Whether a console line (on any thread) held the wanted text, and its length was right. */
typedef struct Console {
  const char* wanted;
  int seen;
} Console;

static void collectConsole(void* context, const char* line, size_t length) {
  Console* console = context;
  if (strstr(line, console->wanted) != NULL && strlen(line) == length) console->seen = 1;
}

static void testCategoriesComeFromTheServiceThenFromTheDevice(harness_service* service, const char* cacheDirectory) {
  Console console = {cacheDirectory, 0};
  Answer first = {0};
  Answer second = {0};
  orbisgrove_category* kept;
  REQUIRE(orbisgrove_set_console_sink(collectConsole, &console) == ORBISGROVE_OK);

  harness_service_enqueue_json(
      service, 200,
      "{\"response\":\"201\",\"data\":[{\"reportId\":\"1\",\"reportName\":\"Road\",\"parentId\":\"0\",\"created\":1},"
      "{\"reportId\":\"101\",\"reportName\":\"Closed\",\"parentId\":\"1\",\"created\":2}]}");
  REQUIRE(orbisgrove_get_report_categories(onCategories, &first) == ORBISGROVE_OK);
  CHECK(first.calls == 0);
  REQUIRE(waitForAnswer(&first));
  CHECK(first.calls == 1 && first.onMainThread && first.error == NULL);
  REQUIRE(first.categories != NULL && orbisgrove_category_list_count(first.categories) == 2);
  CHECK(orbisgrove_category_list_at(first.categories, 2) == NULL);
  CHECK(orbisgrove_category_list_at(first.categories, 1) == orbisgrove_category_list_at(first.categories, 1));
  kept = orbisgrove_category_retain(orbisgrove_category_list_at(first.categories, 1));
  releaseAnswer(&first);
  /* A retained record outlives its list. */
  CHECK(textIs(orbisgrove_category_report_name(kept, NULL), "Closed"));
  CHECK(textIs(orbisgrove_category_parent_id(kept, NULL), "1"));
  orbisgrove_category_release(kept);

  REQUIRE(orbisgrove_get_report_categories(onCategories, &second) == ORBISGROVE_OK);
  CHECK(second.calls == 1); /* from the device, before the call returned */
  CHECK(second.categories != NULL && orbisgrove_category_list_count(second.categories) == 2);
  CHECK(harness_service_request_count(service) == 1);
  releaseAnswer(&second);

  REQUIRE(orbisgrove_set_console_sink(NULL, NULL) == ORBISGROVE_OK);
  CHECK(console.seen); /* the cache path is logged */
}

static void* askFromAnotherThread(void* result) {
  *(int*)result = orbisgrove_is_main_thread();
  return NULL;
}

/* Three submissions, answered through waiting on and draining the main queue
 * (a host's own dispatcher: MainQueueTest). */
static void testSubmissionsSucceedFailAndCancel(harness_service* service) {
  orbisgrove_options* options = reportOptions("mod-7");
  orbisgrove_task* task = NULL;
  orbisgrove_save_client* client = NULL;
  Answer saved = {0};
  Answer refused = {0};
  Answer cancelled = {0};
  size_t requestsBefore = harness_service_request_count(service);
  int otherThreadIsMain = -1;
  pthread_t other;

  /* Success through the shared client, with the host's identity. */
  REQUIRE(orbisgrove_set_bundle_identifier("org.example.capi") == ORBISGROVE_OK);
  harness_service_enqueue_json(
      service, 200,
      "{\"response\":\"201\",\"data\":{\"dataCount\":1,\"name\":\"report\",\"exist\":0,\"id\":\"abc\",\"listId\":5,"
      "\"time\":\"now\",\"url\":\"\"}}");
  REQUIRE(orbisgrove_save_user_data(NULL, options, onSaved, &saved, &task) == ORBISGROVE_OK);
  REQUIRE(task != NULL);
  CHECK(saved.calls == 0);
  REQUIRE(waitForAnswer(&saved));
  CHECK(saved.calls == 1 && saved.onMainThread && saved.error == NULL);
  REQUIRE(saved.userData != NULL);
  CHECK(textIs(orbisgrove_user_data_id(saved.userData, NULL), "abc"));
  CHECK(textIs(orbisgrove_user_data_url(saved.userData, NULL), ""));
  CHECK(harness_service_request_body_contains(service, requestsBefore, "Gate is locked"));
  CHECK(harness_service_request_body_contains(service, requestsBefore, "&module_id=mod-7"));
  CHECK(harness_service_request_body_contains(service, requestsBefore, "org.example.capi"));
  orbisgrove_task_cancel(task); /* after the end: nothing happens */
  orbisgrove_task_release(task);
  REQUIRE(orbisgrove_set_bundle_identifier(NULL) == ORBISGROVE_OK);

  /* The service's refusal, in its own words. */
  harness_service_enqueue_json(service, 400,
                               "{\"response\":\"400\",\"data\":[{\"error\":[\"Field val is missing.\"]}]}");
  REQUIRE(orbisgrove_save_user_data(orbisgrove_save_client_shared(), options, onSaved, &refused, NULL) ==
          ORBISGROVE_OK);
  REQUIRE(drainUntilAnswered(&refused));
  CHECK(refused.calls == 1 && refused.userData == NULL);
  CHECK(errorIs(refused.error, ORBISGROVE_FEEDBACK_ERROR_DOMAIN, -1));
  CHECK(textIs(orbisgrove_error_failure_reason(refused.error), "Field val is missing."));

  /* A client of its own host, cancelled while the service holds the request. */
  REQUIRE(orbisgrove_save_client_create(harness_service_host(service), &client) == ORBISGROVE_OK);
  harness_service_enqueue_stalled(service);
  REQUIRE(orbisgrove_save_user_data(client, options, onSaved, &cancelled, &task) == ORBISGROVE_OK);
  CHECK(orbisgrove_save_client_retain(client) == client);
  orbisgrove_save_client_release(client);
  orbisgrove_save_client_release(client); /* the submission runs on */
  CHECK(orbisgrove_task_retain(task) == task);
  orbisgrove_task_release(task);
  REQUIRE(harness_service_wait_for_stalled(service, 1));
  orbisgrove_task_cancel(task);
  REQUIRE(waitForAnswer(&cancelled));
  CHECK(cancelled.calls == 1 && cancelled.onMainThread && cancelled.userData == NULL);
  CHECK(orbisgrove_main_queue_pending_count() == 0);
  CHECK(errorIs(cancelled.error, ORBISGROVE_URL_ERROR_DOMAIN, ORBISGROVE_URL_ERROR_CANCELLED));
  CHECK(errorIs(orbisgrove_error_underlying(cancelled.error), ORBISGROVE_URL_ERROR_DOMAIN,
                ORBISGROVE_URL_ERROR_CANCELLED));
  /* The service held the whole request: it may have been stored. */
  CHECK(orbisgrove_error_submission_failure(cancelled.error) == ORBISGROVE_SUBMISSION_NO_VERDICT);
  harness_service_release_stalled(service);
  orbisgrove_task_release(task);
  REQUIRE(pthread_create(&other, NULL, askFromAnotherThread, &otherThreadIsMain) == 0);
  pthread_join(other, NULL);
  CHECK(otherThreadIsMain == 0);

  /* Each ran exactly once: nothing more arrives. */
  orbisgrove_main_queue_run_until(NULL, NULL, 100);
  CHECK(saved.calls == 1 && refused.calls == 1 && cancelled.calls == 1);
  releaseAnswer(&saved);
  releaseAnswer(&refused);
  releaseAnswer(&cancelled);
  orbisgrove_options_release(options);
}

/* -------------------------------------------------------------- outbox */

static void countDelivered(void* context, orbisgrove_outbox_entry* entry) {
  if (orbisgrove_outbox_entry_state(entry) == ORBISGROVE_OUTBOX_DELIVERED) ++*(int*)context;
}

static int deliveredOnce(void* context) { return *(int*)context == 1; }

static void countDone(void* context) { ++*(int*)context; }

/* What an asynchronous enqueue handed over: 1 for a new queued entry, on the main thread. */
static void onEnqueued(void* context, orbisgrove_outbox_entry* entry, orbisgrove_error* error) {
  *(int*)context = error == NULL && orbisgrove_outbox_entry_state(entry) == ORBISGROVE_OUTBOX_QUEUED &&
                           orbisgrove_outbox_entry_attempts(entry) == 0 && orbisgrove_is_main_thread()
                       ? 1
                       : -1;
}

static int enqueued(void* context) { return *(int*)context != 0; }

/* Stored, delivered, listed and discarded; an unknown id and a delivered
 * entry's resend are refused. */
static void testOutboxStoresDeliversAndLists(const char* dataDirectory) {
  orbisgrove_options* options = reportOptions(NULL);
  orbisgrove_outbox_entry* entry = NULL;
  orbisgrove_outbox_entry_list* list = NULL;
  const orbisgrove_outbox_entry* listed;
  orbisgrove_error* error = NULL;
  char id[64] = "";
  int delivered = 0;
  int stored = 0;

  REQUIRE(orbisgrove_set_data_directory(dataDirectory) == ORBISGROVE_OK);
  REQUIRE(orbisgrove_outbox_set_change_callback(countDelivered, &delivered) == ORBISGROVE_OK);
  REQUIRE(orbisgrove_outbox_enqueue(options, &entry, NULL) == ORBISGROVE_OK && entry != NULL);
  snprintf(id, sizeof id, "%s", orbisgrove_outbox_entry_id(entry));
  orbisgrove_outbox_entry_release(entry);

  REQUIRE(orbisgrove_main_queue_run_until(deliveredOnce, &delivered, 10000));
  REQUIRE(orbisgrove_outbox_entries(&list, NULL) == ORBISGROVE_OK && orbisgrove_outbox_entry_list_count(list) == 1);
  listed = orbisgrove_outbox_entry_list_at(list, 0);
  CHECK(textIs(orbisgrove_outbox_entry_id(listed), id) && orbisgrove_outbox_entry_attempts(listed) == 1);
  CHECK(orbisgrove_outbox_entry_record(listed) != NULL && orbisgrove_outbox_entry_last_error(listed) == NULL);
  orbisgrove_outbox_entry_list_release(list);

  /* One entry on its own: a delivered one has nothing left to try; an unknown id is an error. */
  delivered = 0;
  CHECK(orbisgrove_outbox_deliver(id, countDone, &delivered, NULL) == ORBISGROVE_OK);
  CHECK(orbisgrove_main_queue_run_until(deliveredOnce, &delivered, 10000));
  CHECK(orbisgrove_outbox_deliver("no such id", countDone, &delivered, NULL) == ORBISGROVE_ERROR_FAILED);
  CHECK(orbisgrove_outbox_resend(id, &error) == ORBISGROVE_ERROR_FAILED && error != NULL); /* a delivered one stays */
  orbisgrove_error_release(error);
  CHECK(orbisgrove_outbox_discard("no such id", NULL) == ORBISGROVE_ERROR_FAILED);
  CHECK(orbisgrove_outbox_discard(id, NULL) == ORBISGROVE_OK);

  /* Without waiting for the disk: the new entry comes on the main queue, then goes out. */
  delivered = 0;
  CHECK(orbisgrove_outbox_enqueue_async(options, onEnqueued, &stored, NULL) == ORBISGROVE_OK);
  CHECK(orbisgrove_main_queue_run_until(enqueued, &stored, 10000) && stored == 1);
  CHECK(orbisgrove_main_queue_run_until(deliveredOnce, &delivered, 10000));
  CHECK(orbisgrove_outbox_enqueue_async(NULL, onEnqueued, &stored, NULL) == ORBISGROVE_ERROR_INVALID_ARGUMENT);
  orbisgrove_options_release(options);
  CHECK(orbisgrove_outbox_set_change_callback(NULL, NULL) == ORBISGROVE_OK);
}

/* ----------------------------------------------------------------- main */

int main(void) {
  const char* tmp = getenv("TMPDIR");
  char cacheDirectory[512];
  char file[600];
  const char* files[] = {"orbisgroveReportCategories.plist", "outbox.sqlite", "outbox.sqlite-wal", "outbox.sqlite-shm",
                         "outbox.sqlite.lock"};
  size_t i;
  harness_service* service;
  orbisgrove_save_client* client = (orbisgrove_save_client*)&failedChecks; /* must be reset */
  Answer unused = {0};

  snprintf(cacheDirectory, sizeof cacheDirectory, "%s/orbisgrove-capi-XXXXXX", tmp && *tmp ? tmp : "/tmp");
  REQUIRE(mkdtemp(cacheDirectory) != NULL);
  REQUIRE(orbisgrove_set_temporary_directory(cacheDirectory) == ORBISGROVE_OK);

  testRecordsTellAbsentFromEmpty();
  testDecodingFailuresAreErrorValues();
  testOptionsHoldTheCategoriesGivenToThem();
  /* Unusable arguments are refused and change nothing. */
  CHECK(orbisgrove_set_service_host(NULL) == ORBISGROVE_ERROR_INVALID_ARGUMENT);
  CHECK(orbisgrove_save_client_create("two words", &client) == ORBISGROVE_ERROR_INVALID_ARGUMENT && client == NULL);
  CHECK(orbisgrove_get_report_categories(NULL, NULL) == ORBISGROVE_ERROR_INVALID_ARGUMENT);
  CHECK(orbisgrove_save_user_data(NULL, NULL, onSaved, &unused, NULL) == ORBISGROVE_ERROR_INVALID_ARGUMENT);
  CHECK(orbisgrove_set_temporary_directory(NULL) == ORBISGROVE_ERROR_INVALID_ARGUMENT && unused.calls == 0);
  CHECK(textIs(orbisgrove_version(), ORBISGROVE_EXPECTED_VERSION));

  service = harness_service_start();
  REQUIRE(orbisgrove_add_trusted_certificates(harness_service_ca_file(service)) == ORBISGROVE_OK);
  REQUIRE(orbisgrove_set_service_host(harness_service_host(service)) == ORBISGROVE_OK);
  /* Unusable text leaves the host as it was: the requests below still arrive. */
  CHECK(orbisgrove_set_service_host("example.org/path") == ORBISGROVE_ERROR_INVALID_ARGUMENT);

  testCategoriesComeFromTheServiceThenFromTheDevice(service, cacheDirectory);
  testSubmissionsSucceedFailAndCancel(service);
  harness_service_reply_by_default(service, 200, "{\"response\":\"201\",\"data\":{\"id\":\"7\",\"dataCount\":1}}");
  testOutboxStoresDeliversAndLists(cacheDirectory);

  harness_service_stop(service);
  for (i = 0; i < sizeof files / sizeof files[0]; ++i) {
    snprintf(file, sizeof file, "%s/%s", cacheDirectory, files[i]);
    unlink(file);
  }
  rmdir(cacheDirectory);

  if (failedChecks > 0) {
    fprintf(stderr, "%d of %d checks failed\n", failedChecks, checks);
    return 1;
  }
  printf("all %d checks of the C interface passed\n", checks);
  return 0;
}
