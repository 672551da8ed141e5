#!/usr/bin/env bash
# The whole suite under AddressSanitizer + UndefinedBehaviorSanitizer; any
# finding stops the run.
set -euo pipefail
source scripts/ci/lib.sh
export ASAN_OPTIONS=halt_on_error=1:abort_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
CC=clang CXX=clang++ run_suite build/asan -DCMAKE_BUILD_TYPE=Debug -DORBISGROVE_SANITIZE=address,undefined
