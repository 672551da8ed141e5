/* The local HTTPS test service, reachable from the C test program. A failing
 * service ends the program. */
#ifndef ORBISGROVE_CAPI_SERVICE_HARNESS_H
#define ORBISGROVE_CAPI_SERVICE_HARNESS_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct harness_service harness_service;

/* A service on 127.0.0.1. */
harness_service* harness_service_start(void);
void harness_service_stop(harness_service* service);
/* "127.0.0.1:PORT" and the CA file to trust; owned by the service. */
const char* harness_service_host(const harness_service* service);
const char* harness_service_ca_file(const harness_service* service);
/* Queues a reply with a JSON body for the next request; or sets it as the reply when none is queued. */
void harness_service_enqueue_json(harness_service* service, int status, const char* body);
void harness_service_reply_by_default(harness_service* service, int status, const char* body);
/* Queues a reply held until harness_service_release_stalled(). */
void harness_service_enqueue_stalled(harness_service* service);
/* Non-zero once `count` requests are held at once (10 s at most). */
int harness_service_wait_for_stalled(harness_service* service, size_t count);
void harness_service_release_stalled(harness_service* service);
size_t harness_service_request_count(const harness_service* service);
/* Non-zero when request `index`'s body contains `text`. */
int harness_service_request_body_contains(const harness_service* service, size_t index, const char* text);

#ifdef __cplusplus
}
#endif

#endif
