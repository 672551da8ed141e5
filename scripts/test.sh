#!/usr/bin/env bash
# Installs what is missing, builds and runs the whole test suite twice: a plain
# build, then one under AddressSanitizer + UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/bootstrap.sh

jobs=$(nproc)
run_suite() {
  local dir=$1
  shift
  cmake -S . -B "$dir" -DORBISGROVE_WARNINGS_AS_ERRORS=ON "$@"
  cmake --build "$dir" -j"$jobs"
  ctest --test-dir "$dir" --output-on-failure -j"$jobs" --timeout 300
}

echo "== plain build =="
run_suite build/plain -DCMAKE_BUILD_TYPE=RelWithDebInfo

echo "== AddressSanitizer + UndefinedBehaviorSanitizer =="
export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
CC=clang CXX=clang++ run_suite build/asan -DCMAKE_BUILD_TYPE=Debug -DORBISGROVE_SANITIZE=address,undefined

echo "== all suites passed =="
