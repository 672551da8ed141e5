/* A C host of the feedback kit that brings its own HTTPS transport. The kit
 * hands every request to the two functions of the table below; this program
 * runs them one after another with libcurl's easy interface on a worker
 * thread of its own, and answers each on that thread. (Any HTTP stack does:
 * the platform's, an app's own, a test double.) It reports when each request
 * starts to go out, so that the kit's outbox knows a report that never left
 * the device from one that may have reached the service.
 *
 *   orbisgrove_example_c_transport HOST[:PORT] CA_FILE
 *
 * Installs the transport first, fetches the report categories, submits one
 * report in the first sub-category and prints what came back. Exit status 0
 * when both requests went through this transport and succeeded. */
#include <orbisgrove/feedback.h>

#include <curl/curl.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define MAX_FIELDS 64

/* One request, queued or running. */
typedef struct Job {
  orbisgrove_transport_request* request;
  struct Job* next;
} Job;

/* The transport: a queue of jobs and the worker thread that runs them. */
typedef struct Transport {
  pthread_mutex_t mutex;
  pthread_cond_t wake;
  Job* first;
  Job* last;
  orbisgrove_transport_request* running;
  int runningCancelled;
  int stopping;
  size_t served;
  const char* caFile;
} Transport;

/* What one transfer received. */
typedef struct Reply {
  char* body;
  size_t length;
  orbisgrove_header_field fields[MAX_FIELDS];
  size_t fieldCount;
} Reply;

static void clearFields(Reply* reply) {
  size_t i;
  for (i = 0; i < reply->fieldCount; ++i) free((char*)reply->fields[i].name);
  reply->fieldCount = 0;
}

static size_t onBody(char* data, size_t size, size_t count, void* context) {
  Reply* reply = context;
  char* grown = realloc(reply->body, reply->length + size * count + 1);
  if (!grown) return 0;
  memcpy(grown + reply->length, data, size * count);
  reply->body = grown;
  reply->length += size * count;
  return size * count;
}

/* "Name: value" lines; a status line starts the fields afresh (after an
 * interim reply). Name and value share one allocation. */
static size_t onHeaderLine(char* data, size_t size, size_t count, void* context) {
  Reply* reply = context;
  size_t length = size * count;
  char* colon = memchr(data, ':', length);
  char* copy;
  if (length >= 5 && memcmp(data, "HTTP/", 5) == 0) clearFields(reply);
  if (!colon || reply->fieldCount == MAX_FIELDS) return length;
  while (length > 0 && (data[length - 1] == '\r' || data[length - 1] == '\n')) --length;
  copy = malloc(length + 1);
  if (!copy) return 0;
  memcpy(copy, data, length);
  copy[length] = '\0';
  copy[colon - data] = '\0';
  colon = copy + (colon - data) + 1;
  while (*colon == ' ' || *colon == '\t') ++colon;
  reply->fields[reply->fieldCount].name = copy;
  reply->fields[reply->fieldCount].value = colon;
  ++reply->fieldCount;
  return size * count;
}

/* Ends the transfer early once the kit has cancelled the request. */
static int onProgress(void* context, curl_off_t a, curl_off_t b, curl_off_t c, curl_off_t d) {
  Transport* transport = context;
  int cancelled;
  (void)a, (void)b, (void)c, (void)d;
  pthread_mutex_lock(&transport->mutex);
  cancelled = transport->runningCancelled;
  pthread_mutex_unlock(&transport->mutex);
  return cancelled;
}

/* What the pre-request callback needs: the request, and whether the kit said
 * not to send it. */
typedef struct Sending {
  orbisgrove_transport_request* request;
  int refused;
} Sending;

/* Runs once the connection is ready, before the request's first byte is
 * written (and again before a redirected request): the kit records that the
 * request goes out, and may say not to send it. */
static int onRequestStart(void* context, char* a, char* b, int c, int d) {
  Sending* sending = context;
  (void)a, (void)b, (void)c, (void)d;
  if (orbisgrove_transport_request_send_starting(sending->request)) return CURL_PREREQFUNC_OK;
  sending->refused = 1;
  return CURL_PREREQFUNC_ABORT;
}

/* The URL-loading code for a failed transfer, and whether any of the
 * request may have left the device. */
static int64_t errorCodeFor(CURLcode result, int* reached) {
  *reached = 0;
  switch (result) {
    case CURLE_COULDNT_RESOLVE_HOST:
      return -1003;
    case CURLE_COULDNT_CONNECT:
      return -1004;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
      return -1202;
    case CURLE_SSL_CONNECT_ERROR:
      return -1200;
    case CURLE_OPERATION_TIMEDOUT:
      *reached = 1;
      return -1001;
    default:
      *reached = 1;
      return -1005;
  }
}

static void perform(Transport* transport, orbisgrove_transport_request* request) {
  CURL* easy = curl_easy_init();
  struct curl_slist* headers = curl_slist_append(NULL, "Expect:");
  Reply reply;
  Sending sending;
  CURLcode result;
  size_t bodyLength;
  size_t i;
  const char* body = orbisgrove_transport_request_body(request, &bodyLength);
  memset(&reply, 0, sizeof reply);
  sending.request = request;
  sending.refused = 0;
  for (i = 0; i < orbisgrove_transport_request_header_count(request); ++i) {
    orbisgrove_header_field field = orbisgrove_transport_request_header(request, i);
    char* line = malloc(strlen(field.name) + strlen(field.value) + 3);
    if (!line) continue;
    sprintf(line, "%s: %s", field.name, field.value);
    headers = curl_slist_append(headers, line);
    free(line);
  }
  curl_easy_setopt(easy, CURLOPT_URL, orbisgrove_transport_request_url(request));
  curl_easy_setopt(easy, CURLOPT_CAINFO, transport->caFile);
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, (long)(orbisgrove_transport_request_timeout(request) * 1000));
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, orbisgrove_transport_request_method(request));
  if (bodyLength > 0) {
    curl_easy_setopt(easy, CURLOPT_POSTFIELDS, body);
    curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE, (long)bodyLength);
  }
  /* libcurl resends a request by itself only after a reused connection
   * died; a request that must go out at most once never takes one. */
  if (!orbisgrove_transport_request_allows_resend(request)) curl_easy_setopt(easy, CURLOPT_FRESH_CONNECT, 1L);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, onBody);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &reply);
  curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, onHeaderLine);
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, &reply);
  curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, onProgress);
  curl_easy_setopt(easy, CURLOPT_XFERINFODATA, transport);
  curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, onRequestStart);
  curl_easy_setopt(easy, CURLOPT_PREREQDATA, &sending);

  result = curl_easy_perform(easy);
  if (result == CURLE_OK) {
    long status = 0;
    long version = CURL_HTTP_VERSION_1_1;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_getinfo(easy, CURLINFO_HTTP_VERSION, &version);
    orbisgrove_transport_request_reply(request, status, reply.fields, reply.fieldCount, reply.body, reply.length,
                                       version == CURL_HTTP_VERSION_3     ? 3
                                       : version == CURL_HTTP_VERSION_2_0 ? 2
                                                                          : 1);
  } else if (sending.refused) { /* nothing of it left the device */
    orbisgrove_transport_request_fail(request, -2000, 0, "the kit said not to send it");
  } else if (result != CURLE_ABORTED_BY_CALLBACK) { /* a cancelled request needs no answer */
    int reached;
    int64_t code = errorCodeFor(result, &reached);
    orbisgrove_transport_request_fail(request, code, reached, curl_easy_strerror(result));
  }
  clearFields(&reply);
  free(reply.body);
  curl_slist_free_all(headers);
  curl_easy_cleanup(easy);
}

static void* work(void* context) {
  Transport* transport = context;
  pthread_mutex_lock(&transport->mutex);
  for (;;) {
    Job* job;
    while (!transport->first && !transport->stopping) pthread_cond_wait(&transport->wake, &transport->mutex);
    if (!transport->first) break;
    job = transport->first;
    transport->first = job->next;
    if (!transport->first) transport->last = NULL;
    transport->running = job->request;
    transport->runningCancelled = 0;
    ++transport->served;
    pthread_mutex_unlock(&transport->mutex);
    perform(transport, job->request);
    pthread_mutex_lock(&transport->mutex);
    transport->running = NULL;
    orbisgrove_transport_request_release(job->request);
    free(job);
  }
  pthread_mutex_unlock(&transport->mutex);
  return NULL;
}

/* The kit's transport thread calls these two. */
static void startRequest(void* context, orbisgrove_transport_request* request) {
  Transport* transport = context;
  Job* job = malloc(sizeof *job);
  if (!job) {
    orbisgrove_transport_request_fail(request, -2000, 0, "out of memory");
    orbisgrove_transport_request_release(request);
    return;
  }
  job->request = request;
  job->next = NULL;
  pthread_mutex_lock(&transport->mutex);
  if (transport->last) {
    transport->last->next = job;
  } else {
    transport->first = job;
  }
  transport->last = job;
  pthread_cond_signal(&transport->wake);
  pthread_mutex_unlock(&transport->mutex);
}

/* A queued request leaves the queue unsent; a running one is aborted. */
static void cancelRequest(void* context, orbisgrove_transport_request* request) {
  Transport* transport = context;
  Job** link;
  Job* previous = NULL;
  pthread_mutex_lock(&transport->mutex);
  if (transport->running == request) transport->runningCancelled = 1;
  for (link = &transport->first; *link; previous = *link, link = &(*link)->next) {
    Job* job = *link;
    if (job->request != request) continue;
    *link = job->next;
    if (transport->last == job) transport->last = previous;
    orbisgrove_transport_request_release(job->request);
    free(job);
    break;
  }
  pthread_mutex_unlock(&transport->mutex);
}

/* ---------------------------------------------- the host's own business */

typedef struct Outcome {
  int done;
  orbisgrove_category_list* categories;
  orbisgrove_user_data* record;
  orbisgrove_error* error;
} Outcome;

static void onCategories(void* context, orbisgrove_category_list* categories, orbisgrove_error* error) {
  Outcome* outcome = context;
  outcome->categories = orbisgrove_category_list_retain(categories);
  outcome->error = orbisgrove_error_retain(error);
  outcome->done = 1;
}

static void onSaved(void* context, orbisgrove_user_data* record, orbisgrove_error* error) {
  Outcome* outcome = context;
  outcome->record = orbisgrove_user_data_retain(record);
  outcome->error = orbisgrove_error_retain(error);
  outcome->done = 1;
}

static int isDone(void* context) { return ((Outcome*)context)->done; }

static int waitFor(Outcome* outcome) { return orbisgrove_main_queue_run_until(isDone, outcome, 120000); }

static int fail(orbisgrove_error* error) {
  printf("failed: %s\n", orbisgrove_error_description(error));
  orbisgrove_error_release(error);
  return 1;
}

/* Fetches the categories and submits one report under the first
 * sub-category, as examples/c_host does. */
static int fetchAndSubmit(void) {
  Outcome categories = {0, NULL, NULL, NULL};
  Outcome saved = {0, NULL, NULL, NULL};
  orbisgrove_category* parent = NULL;
  orbisgrove_category* child = NULL;
  orbisgrove_options* options;
  size_t i;

  if (orbisgrove_get_report_categories(onCategories, &categories) != ORBISGROVE_OK || !waitFor(&categories)) return 1;
  if (categories.error) return fail(categories.error);
  if (!categories.categories) return 1;
  for (i = 0; i < orbisgrove_category_list_count(categories.categories); ++i) {
    orbisgrove_category* category = orbisgrove_category_list_at(categories.categories, i);
    const char* parentId = orbisgrove_category_parent_id(category, NULL);
    if (!parent && parentId && strcmp(parentId, "0") == 0) parent = category;
    if (parent && !child && parentId && strcmp(parentId, orbisgrove_category_report_id(parent, NULL)) == 0) {
      child = category;
    }
  }
  printf("got %zu categories\n", orbisgrove_category_list_count(categories.categories));
  options = parent && child ? orbisgrove_options_create_with_location(52.5163, 13.3777, parent, child,
                                                                      "Pothole (C transport example)", "c-transport")
                            : NULL;
  orbisgrove_category_list_release(categories.categories);
  if (!options) return 1;
  if (orbisgrove_save_user_data(NULL, options, onSaved, &saved, NULL) != ORBISGROVE_OK || !waitFor(&saved)) {
    orbisgrove_options_release(options);
    return 1;
  }
  orbisgrove_options_release(options);
  if (saved.error) return fail(saved.error);
  printf("saved report id=%s\n", saved.record && orbisgrove_user_data_id(saved.record, NULL)
                                     ? orbisgrove_user_data_id(saved.record, NULL)
                                     : "(none)");
  orbisgrove_user_data_release(saved.record);
  return 0;
}

/* The kit may call the table until the process ends, so its context lives as long. */
static Transport transport;

int main(int argc, char** argv) {
  orbisgrove_transport table;
  orbisgrove_error* error = NULL;
  pthread_t worker;
  int status;

  if (argc != 3) {
    fprintf(stderr, "usage: %s HOST[:PORT] CA_FILE\n", argv[0]);
    return 2;
  }
  transport.caFile = argv[2];
  pthread_mutex_init(&transport.mutex, NULL);
  pthread_cond_init(&transport.wake, NULL);
  curl_global_init(CURL_GLOBAL_DEFAULT);
  if (pthread_create(&worker, NULL, work, &transport) != 0) return 1;

  /* Before the first request; the transport trusts the CA file itself. */
  table.start = startRequest;
  table.cancel = cancelRequest;
  table.context = &transport;
  if (orbisgrove_set_transport_with_options(&table, ORBISGROVE_TRANSPORT_REPORTS_SEND_START, &error) != ORBISGROVE_OK) {
    return fail(error);
  }
  if (orbisgrove_set_service_host(argv[1]) != ORBISGROVE_OK ||
      orbisgrove_set_bundle_identifier("org.example.c-transport") != ORBISGROVE_OK) {
    fprintf(stderr, "unusable host\n");
    return 2;
  }
  status = fetchAndSubmit();

  pthread_mutex_lock(&transport.mutex);
  transport.stopping = 1;
  pthread_cond_signal(&transport.wake);
  pthread_mutex_unlock(&transport.mutex);
  pthread_join(worker, NULL);
  printf("requests through this transport: %zu\n", transport.served);
  return status == 0 && transport.served == 2 ? 0 : 1;
}
