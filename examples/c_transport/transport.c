/* The transport of transport.h: libcurl's easy interface on worker threads. */
#include "transport.h"

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

/* What one worker runs, and whether the kit cancelled it. Its easy handle
 * lives as long as the worker, and with it the connections it keeps open. */
typedef struct Worker {
  struct example_transport* transport;
  pthread_t thread;
  CURL* easy;
  orbisgrove_transport_request* running;
  int cancelled;
} Worker;

/* The transport: a queue of jobs and the workers that run them. */
struct example_transport {
  pthread_mutex_t mutex;
  pthread_cond_t wake;
  Job* first;
  Job* last;
  Worker* workers;
  size_t workerCount;
  int stopping;
  size_t served;
  const char* caFile;
  example_transport_prepare prepare;
  void* prepareContext;
};
typedef struct example_transport Transport;

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
  Worker* worker = context;
  int cancelled;
  (void)a, (void)b, (void)c, (void)d;
  pthread_mutex_lock(&worker->transport->mutex);
  cancelled = worker->cancelled;
  pthread_mutex_unlock(&worker->transport->mutex);
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

static void perform(Worker* worker, orbisgrove_transport_request* request) {
  Transport* transport = worker->transport;
  CURL* easy = worker->easy;
  /* The service gets the kit's header fields, not libcurl's own. */
  struct curl_slist* headers = curl_slist_append(curl_slist_append(NULL, "Expect:"), "Accept:");
  Reply reply;
  Sending sending;
  CURLcode result;
  size_t bodyLength;
  size_t i;
  const char* body = orbisgrove_transport_request_body(request, &bodyLength);
  memset(&reply, 0, sizeof reply);
  if (!easy) {
    orbisgrove_transport_request_fail(request, -2000, 0, "libcurl could not start a transfer");
    curl_slist_free_all(headers);
    return;
  }
  curl_easy_reset(easy);
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
  if (transport->caFile) curl_easy_setopt(easy, CURLOPT_CAINFO, transport->caFile);
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
  curl_easy_setopt(easy, CURLOPT_XFERINFODATA, worker);
  curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, onRequestStart);
  curl_easy_setopt(easy, CURLOPT_PREREQDATA, &sending);
  if (transport->prepare) transport->prepare(transport->prepareContext, easy);

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
}

static void* work(void* context) {
  Worker* worker = context;
  Transport* transport = worker->transport;
  worker->easy = curl_easy_init();
  pthread_mutex_lock(&transport->mutex);
  for (;;) {
    Job* job;
    while (!transport->first && !transport->stopping) pthread_cond_wait(&transport->wake, &transport->mutex);
    if (!transport->first) break;
    job = transport->first;
    transport->first = job->next;
    if (!transport->first) transport->last = NULL;
    worker->running = job->request;
    worker->cancelled = 0;
    ++transport->served;
    pthread_mutex_unlock(&transport->mutex);
    perform(worker, job->request);
    pthread_mutex_lock(&transport->mutex);
    worker->running = NULL;
    orbisgrove_transport_request_release(job->request);
    free(job);
  }
  pthread_mutex_unlock(&transport->mutex);
  curl_easy_cleanup(worker->easy);
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
  size_t i;
  pthread_mutex_lock(&transport->mutex);
  for (i = 0; i < transport->workerCount; ++i) {
    if (transport->workers[i].running == request) transport->workers[i].cancelled = 1;
  }
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

example_transport* example_transport_start(size_t workers, const char* ca_file, example_transport_prepare prepare,
                                           void* prepare_context) {
  Transport* transport = calloc(1, sizeof *transport);
  size_t i;
  if (!transport) return NULL;
  if (workers == 0) workers = 1;
  transport->workers = calloc(workers, sizeof *transport->workers);
  if (!transport->workers) {
    free(transport);
    return NULL;
  }
  transport->caFile = ca_file;
  transport->prepare = prepare;
  transport->prepareContext = prepare_context;
  pthread_mutex_init(&transport->mutex, NULL);
  pthread_cond_init(&transport->wake, NULL);
  curl_global_init(CURL_GLOBAL_DEFAULT);
  for (i = 0; i < workers; ++i) {
    transport->workers[i].transport = transport;
    if (pthread_create(&transport->workers[i].thread, NULL, work, &transport->workers[i]) != 0) break;
    transport->workerCount = i + 1;
  }
  if (transport->workerCount == 0) {
    free(transport->workers);
    free(transport);
    return NULL;
  }
  return transport;
}

orbisgrove_status example_transport_install(example_transport* transport, orbisgrove_error** error) {
  orbisgrove_transport table;
  table.start = startRequest;
  table.cancel = cancelRequest;
  table.context = transport;
  return orbisgrove_set_transport_with_options(&table, ORBISGROVE_TRANSPORT_REPORTS_SEND_START, error);
}

/* The transport itself stays: the kit may hold its table until the process ends. */
size_t example_transport_stop(example_transport* transport) {
  size_t i;
  size_t served;
  pthread_mutex_lock(&transport->mutex);
  transport->stopping = 1;
  pthread_cond_broadcast(&transport->wake);
  pthread_mutex_unlock(&transport->mutex);
  for (i = 0; i < transport->workerCount; ++i) pthread_join(transport->workers[i].thread, NULL);
  pthread_mutex_lock(&transport->mutex);
  served = transport->served;
  pthread_mutex_unlock(&transport->mutex);
  return served;
}
