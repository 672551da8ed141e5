/* A host's own transport through the C interface, one that reports when each
 * request starts to go out: the kit tells it to send while the request is
 * live, and not to once the application cancelled it or the host answered
 * it; and a host's text formatter, whose texts make the rate-limit wording.
 * Its own program, since both are installed before the first request;
 * strict C99 on the shared library, like the interface test. */
#define _POSIX_C_SOURCE 200809L

#include <orbisgrove/feedback.h>

#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "CChecks.h"

/* The host's side: the request it was handed last. */
static pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
static orbisgrove_transport_request* started = NULL;

static void startRequest(void* context, orbisgrove_transport_request* request) {
  (void)context;
  pthread_mutex_lock(&mutex);
  started = request;
  pthread_mutex_unlock(&mutex);
}

/* The host's formatter: marked texts, and no duration at all. */
static void writeMarked(orbisgrove_text_sink* sink, const char* kind, long long value) {
  char text[64];
  const int length = snprintf(text, sizeof text, "<%s:%lld>", kind, value);
  orbisgrove_text_sink_write(sink, text, (size_t)length);
}
static void phrase(void* context, int64_t code, orbisgrove_text_sink* sink) {
  (void)context;
  writeMarked(sink, "phrase", (long long)code);
}
static void date(void* context, double seconds, orbisgrove_text_sink* sink) {
  (void)context;
  writeMarked(sink, "date", (long long)seconds);
}
static int noDuration(void* context, double seconds, orbisgrove_text_sink* sink) {
  (void)context;
  writeMarked(sink, "ignored", (long long)seconds);
  return 0;
}
static void decimal(void* context, uint64_t value, orbisgrove_text_sink* sink) {
  (void)context;
  writeMarked(sink, "decimal", (long long)value);
}

static void cancelRequest(void* context, orbisgrove_transport_request* request) { (void)context, (void)request; }

static orbisgrove_transport_request* takeStarted(void) {
  const struct timespec pause = {0, 1000 * 1000};
  orbisgrove_transport_request* request = NULL;
  int waited;
  for (waited = 0; !request && waited < 5000; ++waited) {
    pthread_mutex_lock(&mutex);
    request = started;
    started = NULL;
    pthread_mutex_unlock(&mutex);
    if (!request) nanosleep(&pause, NULL);
  }
  return request;
}

typedef struct Answer {
  int calls;
  int64_t code;
  char reason[256];
  char suggestion[256];
} Answer;

static void copyText(char* to, size_t size, const char* text) { snprintf(to, size, "%s", text ? text : "(none)"); }

static void onSaved(void* context, orbisgrove_user_data* record, orbisgrove_error* error) {
  Answer* answer = context;
  (void)record;
  ++answer->calls;
  answer->code = error ? orbisgrove_error_code(error) : 0;
  copyText(answer->reason, sizeof answer->reason, error ? orbisgrove_error_failure_reason(error) : NULL);
  copyText(answer->suggestion, sizeof answer->suggestion, error ? orbisgrove_error_recovery_suggestion(error) : NULL);
}

static int answered(void* context) { return ((Answer*)context)->calls > 0; }

int main(void) {
  enum { LIVE, AFTER_CANCEL, AFTER_ANSWER };
  const struct {
    int when;
    int send; /* what the report answers */
    int64_t code;
  } cases[] = {{LIVE, 1, -1004}, {AFTER_CANCEL, 0, ORBISGROVE_URL_ERROR_CANCELLED}, {AFTER_ANSWER, 0, -1004}};
  const orbisgrove_transport table = {startRequest, cancelRequest, NULL};
  const orbisgrove_text_formatter formatter = {phrase, date, noDuration, decimal, NULL, NULL};
  const orbisgrove_header_field limits[] = {
      {"X-Rate-Limit-Limit", "1000"}, {"X-Rate-Limit-Interval", "3600"}, {"X-Rate-Limit-Reset", "1798761600"}};
  const char refusal[] = "{\"response\":\"429\",\"data\":[{\"error\":[\"Slow.\"]}]}";
  orbisgrove_error* late = NULL;
  orbisgrove_category* parent = decodeCategory("{\"reportId\":\"1\",\"reportName\":\"Road\"}");
  orbisgrove_category* child = decodeCategory("{\"reportId\":\"101\",\"reportName\":\"Closed\"}");
  orbisgrove_options* options = orbisgrove_options_create_with_location(52.5, 13.25, parent, child, "Gate", NULL);
  size_t i;

  REQUIRE(options != NULL);
  CHECK(orbisgrove_set_text_formatter(NULL, NULL) == ORBISGROVE_ERROR_INVALID_ARGUMENT);
  REQUIRE(orbisgrove_set_text_formatter(&formatter, NULL) == ORBISGROVE_OK);
  CHECK(orbisgrove_set_transport_with_options(&table, 2u, NULL) == ORBISGROVE_ERROR_INVALID_ARGUMENT);
  REQUIRE(orbisgrove_set_transport_with_options(&table, ORBISGROVE_TRANSPORT_REPORTS_SEND_START, NULL) ==
          ORBISGROVE_OK);
  REQUIRE(orbisgrove_set_service_host("example.org") == ORBISGROVE_OK);
  CHECK(orbisgrove_transport_request_send_starting(NULL) == 0);
  for (i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    Answer answer = {0, 0, "", ""};
    orbisgrove_task* task = NULL;
    orbisgrove_transport_request* request;
    REQUIRE(orbisgrove_save_user_data(NULL, options, onSaved, &answer, &task) == ORBISGROVE_OK);
    request = takeStarted();
    REQUIRE(request != NULL);
    if (cases[i].when == AFTER_CANCEL) orbisgrove_task_cancel(task);
    if (cases[i].when == AFTER_ANSWER) orbisgrove_transport_request_fail(request, -1004, 0, "no route");
    if (cases[i].when != LIVE) REQUIRE(orbisgrove_main_queue_run_until(answered, &answer, 10000));
    CHECK(orbisgrove_transport_request_send_starting(request) == cases[i].send);
    if (cases[i].when == LIVE) orbisgrove_transport_request_fail(request, -1004, 0, "no route");
    REQUIRE(orbisgrove_main_queue_run_until(answered, &answer, 10000));
    CHECK(answer.calls == 1 && answer.code == cases[i].code);
    orbisgrove_transport_request_release(request);
    orbisgrove_task_release(task);
  }
  {
    /* A refusal worded by the host's formatter; without its duration the
     * period is the plain number. */
    Answer answer = {0, 0, "", ""};
    orbisgrove_task* task = NULL;
    orbisgrove_transport_request* request;
    REQUIRE(orbisgrove_save_user_data(NULL, options, onSaved, &answer, &task) == ORBISGROVE_OK);
    request = takeStarted();
    REQUIRE(request != NULL);
    CHECK(orbisgrove_transport_request_send_starting(request) == 1);
    CHECK(orbisgrove_transport_request_reply(request, 429, limits, 3, refusal, sizeof refusal - 1, 1) == ORBISGROVE_OK);
    REQUIRE(orbisgrove_main_queue_run_until(answered, &answer, 10000));
    CHECK(strcmp(answer.reason,
                 "More than <decimal:1000> requests have been made with this access token within a "
                 "period of 3600.0 seconds.") == 0);
    CHECK(strcmp(answer.suggestion, "Wait until <date:1798761600> before retrying.") == 0);
    orbisgrove_transport_request_release(request);
    orbisgrove_task_release(task);
  }
  CHECK(orbisgrove_set_text_formatter(&formatter, &late) == ORBISGROVE_ERROR_FAILED);
  CHECK(late != NULL && strstr(orbisgrove_error_failure_reason(late), "cannot change") != NULL);
  orbisgrove_error_release(late);
  orbisgrove_options_release(options);
  orbisgrove_category_release(parent);
  orbisgrove_category_release(child);
  if (failedChecks > 0) return 1;
  printf("the C transport's reports of a send's start and the C text formatter passed\n");
  return 0;
}
