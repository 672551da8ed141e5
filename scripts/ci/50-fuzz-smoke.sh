#!/usr/bin/env bash
# The libFuzzer targets (fuzz/), built alone with clang, each run briefly on
# its seed corpus. A crash, a leak, a sanitizer finding, a broken property or
# a hang stops the stage. Long runs: scripts/fuzz-long.sh.
set -euo pipefail
source scripts/ci/lib.sh
dir=build/fuzz
seconds=${ORBISGROVE_FUZZ_SMOKE_SECONDS:-15}

CC=clang CXX=clang++ cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORBISGROVE_WARNINGS_AS_ERRORS=ON \
  -DORBISGROVE_FUZZ=ON -DORBISGROVE_SANITIZE=address,undefined -DORBISGROVE_BUILD_TESTS=OFF \
  -DORBISGROVE_BUILD_TOOLS=OFF -DORBISGROVE_BUILD_EXAMPLES=OFF -DORBISGROVE_BUILD_BENCHMARKS=OFF
cmake --build "$dir" -j"$jobs" --target orbisgrove_fuzz_targets

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export ASAN_OPTIONS=halt_on_error=1:abort_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
failed=0
started=$SECONDS
for source in fuzz/fuzz_*.cpp; do
  target=$(basename "$source" .cpp)
  mkdir -p "$work/$target"
  # New inputs go to a scratch directory; the seeds in the repository stay as they are.
  if ! "$dir/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$work/$target-" "$work/$target" "fuzz/corpus/$target" >"$work/$target.log" 2>&1; then
    echo "fuzz-smoke: $target FAILED"
    tail -n 60 "$work/$target.log"
    for artifact in "$work/$target"-*; do
      [ -f "$artifact" ] && { echo "input $artifact:"; od -A d -c "$artifact" | head -n 40; }
    done
    failed=1
    continue
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$target.log")
  cov=$(grep -o 'cov: [0-9]* ft: [0-9]*' "$work/$target.log" | tail -n 1)
  echo "fuzz-smoke: $target ok: $runs runs in ${seconds} s, $cov"
done
echo "fuzz-smoke: all targets ran in $((SECONDS - started)) s"
exit "$failed"
