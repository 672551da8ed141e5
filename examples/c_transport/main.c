/* A C host of the feedback kit that brings its own HTTPS transport. The kit
 * hands every request to the two functions of the table in transport.c,
 * which runs them one after another with libcurl's easy interface on a
 * worker thread of its own, and answers each on that thread. (Any HTTP stack
 * does: the platform's, an app's own, a test double.) It reports when each
 * request starts to go out, so that the kit's outbox knows a report that
 * never left the device from one that may have reached the service.
 *
 *   orbisgrove_example_c_transport HOST[:PORT] CA_FILE
 *
 * Installs the transport first, fetches the report categories, submits one
 * report in the first sub-category and prints what came back. Exit status 0
 * when both requests went through this transport and succeeded. */
#include "transport.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

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

int main(int argc, char** argv) {
  orbisgrove_error* error = NULL;
  example_transport* transport;
  int status;

  if (argc != 3) {
    fprintf(stderr, "usage: %s HOST[:PORT] CA_FILE\n", argv[0]);
    return 2;
  }
  /* One worker; the transport trusts the CA file itself. */
  transport = example_transport_start(1, argv[2], NULL, NULL);
  if (!transport) return 1;
  /* Before the first request. */
  if (example_transport_install(transport, &error) != ORBISGROVE_OK) return fail(error);
  if (orbisgrove_set_service_host(argv[1]) != ORBISGROVE_OK ||
      orbisgrove_set_bundle_identifier("org.example.c-transport") != ORBISGROVE_OK) {
    fprintf(stderr, "unusable host\n");
    return 2;
  }
  status = fetchAndSubmit();
  {
    size_t served = example_transport_stop(transport);
    printf("requests through this transport: %zu\n", served);
    return status == 0 && served == 2 ? 0 : 1;
  }
}
