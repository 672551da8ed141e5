#!/usr/bin/env bash
# Figures of the Java binding: the stripped sizes of its jar and JNI library,
# one categories request with no usable cache through Java against the same
# call through C++ (Request/kit_facade_cache_miss of bench/), and one answered
# from the cache (CacheHit/kit/55). The Java side talks to the reference
# service (orbisgrove-feedback serve), the C++ side to the benchmarks' own
# local service: the cache-miss times include each service's own latency.
#
#   scripts/bench-java.sh [--rounds N]
set -euo pipefail
cd "$(dirname "$0")/.."

rounds=9
if [ "${1:-}" = "--rounds" ]; then rounds=$2; fi
jobs=$(($(nproc) < 2 ? $(nproc) : 2))
# Tests on: the benchmarks' service helper needs what the tests' configure
# finds; only the targets below are built.
build=build/bench-java
cmake -S . -B $build -DCMAKE_BUILD_TYPE=Release -DORBISGROVE_BUILD_BENCHMARKS=ON -DORBISGROVE_BUILD_TESTS=ON \
  -DORBISGROVE_BUILD_TOOLS=ON -DORBISGROVE_BUILD_EXAMPLES=OFF -DORBISGROVE_WITH_JAVA=ON >$build.configure.log
cmake --build $build -j"$jobs" --target orbisgrove_bench orbisgrove-feedback orbisgrove_feedback_jni \
  orbisgrove_feedback_jar orbisgrove_feedback_java_bench >$build.build.log 2>&1

scratch=$(mktemp -d)
service=""
cleanup() {
  if [ -n "$service" ]; then kill "$service" 2>/dev/null || true; fi
  rm -rf "$scratch"
}
trap cleanup EXIT

strip -o "$scratch/jni.so" $build/bindings/java/liborbisgrove-feedback-jni.so
strip -o "$scratch/kit.so" $build/src/libOrbisgroveFeedbackKit.so
echo "size  orbisgrove-feedback.jar           $(stat -L -c %s $build/bindings/java/orbisgrove-feedback.jar) bytes"
echo "size  liborbisgrove-feedback-jni.so     $(stat -c %s "$scratch/jni.so") bytes (stripped)"
echo "size  libOrbisgroveFeedbackKit.so       $(stat -c %s "$scratch/kit.so") bytes (stripped, for scale)"

$build/tools/cli/orbisgrove-feedback serve --port 0 --bind 127.0.0.1 --rate-limit 1000000000 >"$scratch/serve.out" &
service=$!
for _ in $(seq 100); do [ "$(wc -l <"$scratch/serve.out")" -ge 2 ] && break; sleep 0.1; done
host=$(sed -n 's#^listening on https://\([^/]*\)/.*#\1#p' "$scratch/serve.out")
ca=$(sed -n 's#^trust this CA: ##p' "$scratch/serve.out")
java -Djava.library.path=$build/bindings/java \
  -cp $build/bindings/java/orbisgrove-feedback.jar:$build/bindings/java/orbisgrove-feedback-bench.jar \
  CategoriesBench "$host" "$ca" "$rounds" 500

$build/bench/orbisgrove_bench --benchmark_filter='^(Request/kit_(facade_cache_miss|categories)/|CacheHit/kit/55$)' \
  --benchmark_repetitions="$rounds" --benchmark_report_aggregates_only=true 2>/dev/null |
  awk -v rounds="$rounds" '$1 ~ /_median$/ {
    label = $1; sub(/_median$/, "", label); sub(/\/(min_time|real_time).*$/, "", label)
    scale = $3 == "ns" ? 1000 : $3 == "ms" ? 0.001 : 1
    printf "c++   %-34s %.1f us (median of %d repetitions)\n", label, $2 / scale, rounds }'
