/* Checks of the C interface's test programs. A failed CHECK is counted; a
 * failed REQUIRE ends the program, since nothing after it would mean
 * anything. */
#ifndef ORBISGROVE_TEST_C_CHECKS_H
#define ORBISGROVE_TEST_C_CHECKS_H

#include <orbisgrove/feedback.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int checks = 0;
static int failedChecks = 0;

static void check(int passed, const char* condition, const char* file, int line, int fatal) {
  ++checks;
  if (passed) return;
  fprintf(stderr, "%s:%d: %s failed: %s\n", file, line, fatal ? "requirement" : "check", condition);
  ++failedChecks;
  if (fatal) exit(1);
}

#define CHECK(condition) check((condition) != 0, #condition, __FILE__, __LINE__, 0)
#define REQUIRE(condition) check((condition) != 0, #condition, __FILE__, __LINE__, 1)

static orbisgrove_category* decodeCategory(const char* json) {
  orbisgrove_category* category = NULL;
  REQUIRE(orbisgrove_category_decode(json, strlen(json), &category, NULL) == ORBISGROVE_OK);
  return category;
}

#endif
