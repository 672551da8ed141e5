#!/usr/bin/env bash
# Long fuzzing runs, outside CI: every target of fuzz/ (or the ones named)
# for SECONDS each (default 600), one after another. The corpus each run finds
# is kept outside the repository, in $ORBISGROVE_FUZZ_WORK (default
# ~/.cache/orbisgrove-fuzz/<target>), and grows from run to run; crashing
# inputs land there as crash-*, leak-*, timeout-*, oom-*.
#
#   scripts/fuzz-long.sh [-t SECONDS] [-j PARALLEL] [TARGET...]
#
# Prints per target: runs, executions per second, corpus size, and the
# coverage libFuzzer reports (cov: edges, ft: features). Exits 1 when any
# target found something.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=600
parallel=1
while getopts "t:j:" option; do
  case $option in
    t) seconds=$OPTARG ;;
    j) parallel=$OPTARG ;;
    *) echo "usage: $0 [-t SECONDS] [-j PARALLEL] [TARGET...]" >&2; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
work=${ORBISGROVE_FUZZ_WORK:-$HOME/.cache/orbisgrove-fuzz}
dir=${ORBISGROVE_FUZZ_BUILD:-build/fuzz}

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for source in fuzz/fuzz_*.cpp; do targets+=("$(basename "$source" .cpp)"); done
fi

CC=clang CXX=clang++ cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORBISGROVE_WARNINGS_AS_ERRORS=ON \
  -DORBISGROVE_FUZZ=ON -DORBISGROVE_SANITIZE=address,undefined -DORBISGROVE_BUILD_TESTS=OFF \
  -DORBISGROVE_BUILD_TOOLS=OFF -DORBISGROVE_BUILD_EXAMPLES=OFF -DORBISGROVE_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build "$dir" -j2 --target orbisgrove_fuzz_targets >/dev/null

export ASAN_OPTIONS=halt_on_error=1:abort_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

run_one() {
  local target=$1
  local corpus=$work/$target
  mkdir -p "$corpus"
  local status=0
  "$dir/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$corpus-" "$corpus" "fuzz/corpus/$target" >"$work/$target.log" 2>&1 || status=$?
  local runs rate files bytes cov
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$target.log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$work/$target.log")
  files=$(find "$corpus" -type f | wc -l)
  bytes=$(du -sk "$corpus" | cut -f1)
  cov=$(grep -o 'cov: [0-9]* ft: [0-9]*' "$work/$target.log" | tail -n 1)
  local verdict=ok
  [ "$status" -ne 0 ] && verdict="FOUND SOMETHING (exit $status, see $work/$target.log)"
  printf '%-24s %s: runs %s, %s exec/s, corpus %s files (%s KiB), %s\n' "$target" "$verdict" "${runs:-?}" \
    "${rate:-?}" "$files" "$bytes" "${cov:-cov: ? ft: ?}"
  return "$status"
}

mkdir -p "$work"
echo "fuzz-long: ${#targets[@]} targets, $seconds s each, $parallel at a time; corpus and logs in $work"
failed=0
pids=()
for target in "${targets[@]}"; do
  run_one "$target" &
  pids+=($!)
  if [ ${#pids[@]} -ge "$parallel" ]; then
    wait "${pids[0]}" || failed=1
    pids=("${pids[@]:1}")
  fi
done
for pid in "${pids[@]}"; do wait "$pid" || failed=1; done
exit "$failed"
