#!/usr/bin/env bash
# The concurrency tests (tests/hardening) under ThreadSanitizer: many threads
# asking, submitting, cancelling and first touching the shared instances
# while the main queue drains and the cache file is rewritten, a host's own
# facade destroyed while its reply is handled, and the main queue's
# dispatchers replaced while others post (tests/platform/core), the outbox
# enqueued from many threads while it delivers, and a host transport
# (tests/kit). Only their executables are built; any report stops the run.
set -euo pipefail
source scripts/ci/lib.sh
dir=build/tsan
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/tests/tsan.supp"

CC=clang CXX=clang++ cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORBISGROVE_WARNINGS_AS_ERRORS=ON \
  -DORBISGROVE_SANITIZE=thread -DORBISGROVE_BUILD_TOOLS=OFF -DORBISGROVE_BUILD_EXAMPLES=OFF \
  -DORBISGROVE_BUILD_BENCHMARKS=OFF
cmake --build "$dir" -j"$jobs" --target orbisgrove_hardening_concurrency_tests \
  orbisgrove_hardening_first_touch_tests orbisgrove_hardening_fault_tests orbisgrove_core_tests \
  orbisgrove_outbox_schedule_tests orbisgrove_host_transport_tests
# The executables above register these tests; the others are not built here.
ctest --test-dir "$dir" --output-on-failure -j"$jobs" --timeout 600 \
  -R '^(ConcurrencyTest|SharedInstances|FaultInjectionTest|MainQueueTest|HostTransport)\.|EnqueueFromManyThreadsWhileDelivering'
