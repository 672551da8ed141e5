/* A minimal C host of the feedback kit, through <orbisgrove/feedback.h>.
 *
 * This host has no event loop of its own: its main thread drains the kit's
 * main queue, waiting with orbisgrove_main_queue_run_until() until the answer
 * it expects has arrived.
 *
 *   orbisgrove_example_c_host HOST[:PORT] CA_FILE
 *
 * Fetches the report categories, submits one report in the first
 * sub-category and prints what came back. Exit status 0 on success. */
#include <orbisgrove/feedback.h>

#include <stdio.h>
#include <string.h>

/* What a callback leaves for main(). Handles passed to a callback are only
 * lent for the call, so the callbacks retain what main() keeps. */
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

/* Runs the kit's completions on this thread until the outcome is in. The
 * kit's own request time-out (60 s) always ends a request first. */
static int waitFor(Outcome* outcome) { return orbisgrove_main_queue_run_until(isDone, outcome, 120000); }

static const char* orNone(const char* text) { return text ? text : "(none)"; }

typedef int (*NumberField)(const orbisgrove_user_data* record, int64_t* value);

static void printNumber(const char* name, NumberField field, const orbisgrove_user_data* record) {
  int64_t value = 0;
  if (field(record, &value)) {
    printf(" %s=%lld", name, (long long)value);
  } else {
    printf(" %s=(none)", name);
  }
}

static int fail(orbisgrove_error* error) {
  printf("failed: %s\n", orbisgrove_error_description(error));
  if (orbisgrove_error_failure_reason(error)) printf("  reason: %s\n", orbisgrove_error_failure_reason(error));
  orbisgrove_error_release(error);
  return 1;
}

int main(int argc, char** argv) {
  Outcome categories = {0, NULL, NULL, NULL};
  Outcome saved = {0, NULL, NULL, NULL};
  orbisgrove_category* parent = NULL;
  orbisgrove_category* child = NULL;
  orbisgrove_options* options;
  size_t count;
  size_t i;

  if (argc != 3) {
    fprintf(stderr, "usage: %s HOST[:PORT] CA_FILE\n", argv[0]);
    return 2;
  }
  /* Settings first: trust the service's CA, point the shared clients at it,
   * say who we are. Strings passed in are copied. */
  if (orbisgrove_add_trusted_certificates(argv[2]) != ORBISGROVE_OK ||
      orbisgrove_set_service_host(argv[1]) != ORBISGROVE_OK ||
      orbisgrove_set_bundle_identifier("org.example.c-host") != ORBISGROVE_OK) {
    fprintf(stderr, "unusable host or CA file\n");
    return 2;
  }

  /* A list from the device cache is answered before this call returns;
   * otherwise the answer waits on the main queue. */
  if (orbisgrove_get_report_categories(onCategories, &categories) != ORBISGROVE_OK || !waitFor(&categories)) {
    fprintf(stderr, "no answer\n");
    return 1;
  }
  if (categories.error) return fail(categories.error);
  if (!categories.categories) {
    printf("the service sent no list\n");
    return 1;
  }

  /* Two levels: top-level categories have parentId "0". */
  count = orbisgrove_category_list_count(categories.categories);
  printf("got %zu categories\n", count);
  for (i = 0; i < count; ++i) {
    orbisgrove_category* category = orbisgrove_category_list_at(categories.categories, i);
    const char* parentId = orbisgrove_category_parent_id(category, NULL);
    if (!parent && parentId && strcmp(parentId, "0") == 0) parent = category;
    if (parent && !child && parentId && orbisgrove_category_report_id(parent, NULL) &&
        strcmp(parentId, orbisgrove_category_report_id(parent, NULL)) == 0) {
      child = category;
    }
  }
  if (!parent || !child) {
    printf("no category with a sub-category\n");
    orbisgrove_category_list_release(categories.categories);
    return 1;
  }
  printf("reporting under \"%s\" / \"%s\"\n", orNone(orbisgrove_category_report_name(parent, NULL)),
         orNone(orbisgrove_category_report_name(child, NULL)));

  /* The options retain the two records, so the list may go now. */
  options = orbisgrove_options_create_with_location(52.5163, 13.3777, parent, child,
                                                    "Barrier across the road since Monday (C example)", "c-example");
  orbisgrove_category_list_release(categories.categories);
  if (!options) return 1;

  /* NULL: the shared client. We do not keep the task (it cannot be
   * cancelled then, which is fine here). */
  if (orbisgrove_save_user_data(NULL, options, onSaved, &saved, NULL) != ORBISGROVE_OK || !waitFor(&saved)) {
    fprintf(stderr, "no answer\n");
    orbisgrove_options_release(options);
    return 1;
  }
  orbisgrove_options_release(options);
  if (saved.error) return fail(saved.error);
  if (!saved.record) {
    printf("saved; the service sent no record\n");
    return 0;
  }
  printf("saved report id=%s name=%s", orNone(orbisgrove_user_data_id(saved.record, NULL)),
         orNone(orbisgrove_user_data_name(saved.record, NULL)));
  printNumber("listId", orbisgrove_user_data_list_id, saved.record);
  printNumber("dataCount", orbisgrove_user_data_data_count, saved.record);
  printNumber("exist", orbisgrove_user_data_exist, saved.record);
  printf(" time=%s url=%s\n", orNone(orbisgrove_user_data_time(saved.record, NULL)),
         orNone(orbisgrove_user_data_url(saved.record, NULL)));
  orbisgrove_user_data_release(saved.record);
  return 0;
}
