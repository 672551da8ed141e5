/* An HTTPS transport for the feedback kit over libcurl's easy interface: a
 * queue of requests and a few worker threads that run them, each answered
 * on the worker that ran it. It reports when each request starts to go out,
 * so that the kit's outbox knows a report that never left the device from
 * one that may have reached the service. */
#ifndef ORBISGROVE_EXAMPLE_TRANSPORT_H
#define ORBISGROVE_EXAMPLE_TRANSPORT_H

#include <orbisgrove/feedback.h>

#include <curl/curl.h>
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct example_transport example_transport;

/* Called on a worker before each transfer, to set what the host decides
 * itself (trusted authorities, for one). */
typedef void (*example_transport_prepare)(void* context, CURL* easy);

/* Starts `workers` threads (at least one) that trust the authorities in
 * `ca_file` (NULL: the system's) and then let `prepare` (may be NULL) see
 * every transfer. NULL when it cannot. */
example_transport* example_transport_start(size_t workers, const char* ca_file, example_transport_prepare prepare,
                                           void* prepare_context);

/* Makes the transport the kit's; call it before the kit's first request. */
orbisgrove_status example_transport_install(example_transport* transport, orbisgrove_error** error);

/* Finishes the queued requests, stops the workers and returns how many
 * requests they ran. The kit must not call the transport any more. */
size_t example_transport_stop(example_transport* transport);

#ifdef __cplusplus
}
#endif

#endif
