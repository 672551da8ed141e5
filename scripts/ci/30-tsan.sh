#!/usr/bin/env bash
# The tests labelled tsan under ThreadSanitizer: the platform layer's units
# (the main queue handed to a host's dispatcher while others post, the
# session contract, ...), a host's transport, and the threaded scenarios:
# many threads asking, submitting, cancelling and first touching the shared
# instances while the main queue drains and the cache file is rewritten, a
# host's own facade destroyed while its reply is handled, the outbox
# enqueued from many threads while it delivers, and processes that exit with
# requests in flight. Only the programs that hold them are built (target
# orbisgrove_tsan_tests); tests of fork() carry the label fork, never tsan.
# Any report stops the run.
set -euo pipefail
source scripts/ci/lib.sh
dir=build/tsan
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/tests/tsan.supp"

CC=clang CXX=clang++ cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORBISGROVE_WARNINGS_AS_ERRORS=ON \
  -DORBISGROVE_SANITIZE=thread -DORBISGROVE_BUILD_TOOLS=OFF -DORBISGROVE_BUILD_EXAMPLES=OFF \
  -DORBISGROVE_BUILD_BENCHMARKS=OFF
cmake --build "$dir" -j"$jobs" --target orbisgrove_tsan_tests
ctest --test-dir "$dir" --output-on-failure -j"$jobs" --timeout 600 -L tsan
