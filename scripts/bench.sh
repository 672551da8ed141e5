#!/usr/bin/env bash
# Builds the kit in Release with its benchmarks, runs them and prints one
# summary table of the figures against their targets.
#
#   scripts/bench.sh [--repetitions N] [--asan]
#
# The timed benchmarks run N times (default 9) in random interleaved order and
# the table shows medians; the memory runs (each in a fresh process) run three
# times per side, interleaved. --asan also builds the benchmarks with clang
# under AddressSanitizer + UndefinedBehaviorSanitizer and runs 20,000
# submissions under LeakSanitizer. Raw JSON results stay in build/bench/results.
set -euo pipefail
cd "$(dirname "$0")/.."

repetitions=9
asan=0
while [ $# -gt 0 ]; do
  case $1 in
    --repetitions) repetitions=$2; shift 2 ;;
    --asan) asan=1; shift ;;
    *) echo "usage: $0 [--repetitions N] [--asan]" >&2; exit 2 ;;
  esac
done

./scripts/bootstrap.sh hyperfine curl
jobs=$(($(nproc) < 2 ? $(nproc) : 2))
build=build/bench
results=$build/results
mkdir -p "$results"
rm -f "$results"/*.json "$results"/bench.log

configure() {
  cmake -S . -B "$1" -DORBISGROVE_BUILD_BENCHMARKS=ON -DORBISGROVE_BUILD_TESTS=OFF -DORBISGROVE_BUILD_TOOLS=ON \
    -DORBISGROVE_BUILD_EXAMPLES=OFF "${@:2}" >"$1.configure.log"
}

configure $build -DCMAKE_BUILD_TYPE=Release
cmake --build $build -j"$jobs" --target orbisgrove_bench OrbisgroveFeedbackKit orbisgrove-feedback

# Cold start: a fresh process making its first categories request against the
# reference service (nothing cached), against curl making the same POST.
tool=$build/tools/cli/orbisgrove-feedback
cold=$(mktemp -d)
"$tool" serve --port 0 >"$cold/serve.out" 2>&1 &
serve=$!
trap 'kill $serve 2>/dev/null || true; rm -rf "$cold"' EXIT
for _ in $(seq 50); do grep -q '^trust this CA' "$cold/serve.out" 2>/dev/null && break; sleep 0.1; done
host=$(sed -n 's|^listening on https://\([^/]*\)/.*|\1|p' "$cold/serve.out")
ca=$(sed -n 's|^trust this CA: ||p' "$cold/serve.out")
form='q=712&layer=explore&client=104&key=tV3nQe8LpZk2RwXa0MfYc7HsJd9=&apptype=native&val=401*401*401'
hyperfine -N --warmup 5 --runs 60 --export-json "$results/cold-start.json" \
  --prepare "sh -c 'rm -rf $cold/tmp; mkdir $cold/tmp'" \
  "env TMPDIR=$cold/tmp $tool categories --host $host --cacert $ca --json" \
  "curl -s --cacert $ca -H 'Content-Type: application/x-www-form-urlencoded' -d $form https://$host/explore-api/v1.2/" \
  >/dev/null 2>>"$results/bench.log"

bench=$build/bench/orbisgrove_bench
"$bench" --benchmark_filter='^(CacheHit|Request|Concurrent500|Decode)/' --benchmark_repetitions="$repetitions" \
  --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true \
  --benchmark_out="$results/timed.json" --benchmark_out_format=json >/dev/null 2>>"$results/bench.log"
"$bench" --benchmark_filter='^Paired/' --benchmark_repetitions=3 --benchmark_out="$results/paired.json" \
  --benchmark_out_format=json >/dev/null 2>>"$results/bench.log"
# The same requests with the process and the service it forks on one core:
# each request's time is then the CPU work that serves it.
taskset -c 0 "$bench" --benchmark_filter='^OneCore/' --benchmark_repetitions=5 \
  --benchmark_enable_random_interleaving=true --benchmark_out="$results/one-core.json" --benchmark_out_format=json \
  >/dev/null 2>>"$results/bench.log"
"$bench" --benchmark_filter='^Outbox/' --benchmark_out="$results/outbox.json" --benchmark_out_format=json \
  >/dev/null 2>>"$results/bench.log"
for round in 1 2 3; do
  for side in kit raw_curl_multi; do
    "$bench" --benchmark_filter="^Memory/$side/" --benchmark_out="$results/memory-$side-$round.json" \
      --benchmark_out_format=json >/dev/null 2>>"$results/bench.log"
  done
done

library=$(readlink -f $build/src/libOrbisgroveFeedbackKit.so)
cp "$library" "$results/libOrbisgroveFeedbackKit.stripped.so"
strip "$results/libOrbisgroveFeedbackKit.stripped.so"
readelf -d "$library" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' >"$results/needed.txt"

leaks="not run (scripts/bench.sh --asan)"
if [ $asan -eq 1 ]; then
  CC=clang CXX=clang++ configure build/bench-asan -DCMAKE_BUILD_TYPE=Debug -DORBISGROVE_SANITIZE=address,undefined
  cmake --build build/bench-asan -j"$jobs" --target orbisgrove_bench
  if ASAN_OPTIONS=detect_leaks=1:halt_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    build/bench-asan/bench/orbisgrove_bench --benchmark_filter='^Memory/kit/' >"$results/asan.log" 2>&1; then
    leaks="clean (ASan+UBSan+LSan, 20,000 submissions)"
  else
    leaks="FINDINGS, see $results/asan.log"
  fi
fi

python3 - "$results" "$leaks" <<'EOF'
import glob, json, os, statistics, sys

results, leaks = sys.argv[1], sys.argv[2]
scale = {"ns": 1e-3, "us": 1.0, "ms": 1e3, "s": 1e6}

timed = {}
for b in json.load(open(os.path.join(results, "timed.json")))["benchmarks"]:
    if b.get("aggregate_name") == "median":
        name = b["run_name"].split("/min_time")[0].split("/iterations")[0].split("/manual_time")[0]
        timed[name] = b

def micros(name):
    b = timed[name]
    return b["real_time"] * scale[b["time_unit"]]

def memory(side, counter):
    values = []
    for path in glob.glob(os.path.join(results, f"memory-{side}-*.json")):
        for b in json.load(open(path))["benchmarks"]:
            if b.get("error_occurred"):
                sys.exit(f"{path}: {b.get('error_message')}")
            values.append(b[counter])
    return statistics.median(values)

rows = []
def row(figure, measured, target="", met=None):
    rows.append((figure, measured, target, "" if met is None else ("yes" if met else "NO")))

def kib(value):
    return f"{value / 1024:.1f} KiB"

def mib(value):
    return f"{value / 1048576:.1f} MiB"

for count in (20, 200, 2000):
    kit, a, b = (micros(f"CacheHit/{n}/{count}") for n in ("kit", "floorA_read", "floorB_read_parse"))
    row(f"Cache hit, {count} categories (kit / floor a / floor b)",
        f"{kit:.1f} / {a:.1f} / {b:.1f} us; {kit / a:.1f}x a, {kit / b:.2f}x b",
        "<= 8x floor a" if count == 200 else "", kit / a <= 8 if count == 200 else None)

kit, floor = micros("Request/kit_categories"), micros("Request/raw_multi_thread_floor")
raw, hop = micros("Request/raw_curl_easy"), micros("Request/kit_session_hop_only")
row("Sequential request, 55-category reply (kit / raw multi on its own thread)",
    f"{kit:.0f} / {floor:.0f} us; {kit / floor:.2f}x", "<= 1.10x", kit / floor <= 1.10)
row("  of which session + main-queue hop, no decoding", f"{hop:.0f} us; {hop / floor:.2f}x floor")
paired = {}
for b in json.load(open(os.path.join(results, "paired.json")))["benchmarks"]:
    if b.get("run_type") == "iteration":
        paired.setdefault(b["run_name"].split("/iterations")[0], []).append(b["ratio"])
def pairedRatio(name):
    values = paired[name]
    return f"{statistics.median(values):.3f}x (runs {', '.join(f'{v:.3f}' for v in values)})"
row("  paired blocks: kit over session hop (building, decoding, handing over)",
    pairedRatio("Paired/kit_over_session_hop"))
oneCore = {}
for b in json.load(open(os.path.join(results, "one-core.json")))["benchmarks"]:
    if b.get("run_type") == "iteration":
        if b.get("error_occurred"):
            sys.exit(f"one-core run: {b.get('error_message')}")
        oneCore.setdefault(b["run_name"].split("/iterations")[0], []).append(b)
def oneCoreMedian(side, counter):
    return statistics.median(b[counter] for b in oneCore[f"OneCore/{side}"])
floor10, floor50 = oneCoreMedian("raw_multi_thread_floor", "p10_us"), oneCoreMedian("raw_multi_thread_floor", "p50_us")
for side, label in (("kit_session_hop_only", "session hop"), ("kit_categories", "kit")):
    p10, p50 = oneCoreMedian(side, "p10_us"), oneCoreMedian(side, "p50_us")
    row(f"  one core, p10 / p50: {label} over floor ({floor10:.0f} / {floor50:.0f} us)",
        f"{p10:.0f} / {p50:.0f} us; +{p10 - floor10:.0f} us, {p10 / floor10:.2f}x / {p50 / floor50:.2f}x")
row("  raw easy handle on the calling thread, for comparison", f"{raw:.0f} us; kit {kit / raw:.2f}x")
k, r = timed["Request/kit_categories"], timed["Request/raw_multi_thread_floor"]
row("  connections / handshakes while timed (kit; raw)",
    f"{k['connections']:.0f} / {k['handshakes']:.0f}; {r['connections']:.0f} / {r['handshakes']:.0f}", "reuse", 
    k["connections"] == 1 and k["handshakes"] == 0)

decoded, parsed = micros("Decode/categories_reply_55"), micros("Decode/categories_reply_55_document_only")
row("Decoding the 55-category reply into records", f"{decoded:.1f} us; of which parsing {parsed:.1f} us", "< 10 us",
    decoded < 10)

kit, raw = micros("Concurrent500/kit"), micros("Concurrent500/raw_curl_multi")
row("500 concurrent submissions (kit / raw multi, 6 per host, 12 kept)",
    f"{kit / 1000:.0f} / {raw / 1000:.0f} ms; {kit / raw:.2f}x", "<= 1.2x", kit / raw <= 1.2)
k, r = timed["Concurrent500/kit"], timed["Concurrent500/raw_curl_multi"]
row("  connections per batch (kit; raw)", f"{k['connections_per_batch']:.0f}; {r['connections_per_batch']:.0f}",
    "<= 6", k["connections_per_batch"] <= 6)
row("  TLS handshakes, first batch / later batches (kit; raw)",
    f"{k['handshakes_cold_batch']:.0f} / {k['handshakes_per_batch']:.1f}; "
    f"{r['handshakes_cold_batch']:.0f} / {r['handshakes_per_batch']:.1f}")

def perRequest(side):
    return "RSS held {} / peak {}; heap {}".format(*(kib(memory(side, f"{kind}_bytes_per_request"))
                                                 for kind in ("held", "peak", "heap_held")))
peak = memory("kit", "peak_bytes_per_request")
row("Memory per in-flight request, 500 in flight, kit", perRequest("kit"), "< 16 KiB", peak < 16384)
row("  raw multi (libcurl defaults) for comparison", perRequest("raw_curl_multi"))
# Live heap (what the allocator handed out and did not get back) tells growth
# apart from allocator caching, which makes RSS drift by a few hundred KiB.
heap = {side: [memory(side, f"heap_in_use_after_{n}") for n in (1000, 10000, 20000)] for side in ("kit", "raw_curl_multi")}
rss = {side: [memory(side, f"rss_after_{n}") for n in (1000, 10000, 20000)] for side in ("kit", "raw_curl_multi")}
allowed = max(heap["raw_curl_multi"][1] - heap["raw_curl_multi"][0], 0) + 65536
for side, label in (("kit", "kit"), ("raw_curl_multi", "raw multi")):
    h, r = heap[side], rss[side]
    kit = side == "kit"
    row(f"Heap in use after 1k / 10k / 20k requests, {label}",
        f"{mib(h[0])} / {mib(h[1])} / {mib(h[2])}; {(h[1] - h[0]) / 1024:+.0f}, {(h[2] - h[1]) / 1024:+.0f} KiB",
        "growth 1k->10k <= raw's + 64 KiB" if kit else "", h[1] - h[0] <= allowed if kit else None)
    row("  RSS after malloc_trim", f"{mib(r[0])} / {mib(r[1])} / {mib(r[2])}; {(r[1] - r[0]) / 1024:+.0f}, "
        f"{(r[2] - r[1]) / 1024:+.0f} KiB")
row("Leaks after 20,000 submissions", leaks, "none", leaks.startswith("clean") if "not run" not in leaks else None)

outbox = {b["name"].split("/iterations")[0].split("/real_time")[0]: b
          for b in json.load(open(os.path.join(results, "outbox.json")))["benchmarks"]}
e = next(b for n, b in outbox.items() if n.startswith("Outbox/enqueue_durable"))
d = next(b for n, b in outbox.items() if n.startswith("Outbox/deliver"))
a = next(b for n, b in outbox.items() if n.startswith("Outbox/enqueue_async"))
row("Outbox enqueue on the caller's thread, durable commit (median / p99)",
    f"{e['median_us'] / 1000:.2f} / {e['p99_us'] / 1000:.2f} ms")
row("  the same, committed on the store-writes thread (median / p99)",
    f"{a['median_us'] / 1000:.3f} / {a['p99_us'] / 1000:.3f} ms")
row("  reports delivered per second against the local service", f"{d['delivered_per_s']:.0f}/s")

cold = [r["median"] * 1e3 for r in json.load(open(os.path.join(results, "cold-start.json")))["results"]]
row("Cold start, first categories request (kit tool / curl)", f"{cold[0]:.1f} / {cold[1]:.1f} ms; {cold[0] / cold[1]:.2f}x",
    "<= 1.3x", cold[0] / cold[1] <= 1.3)

size = os.path.getsize(os.path.join(results, "libOrbisgroveFeedbackKit.stripped.so"))
row("Stripped libOrbisgroveFeedbackKit.so", kib(size), "< 1 MiB", size < 1048576)
needed = open(os.path.join(results, "needed.txt")).read().split()
runtime = ("libstdc++", "libm.", "libgcc_s", "libc.", "ld-linux")
row("  NEEDED, libraries", ", ".join(n for n in needed if not n.startswith(runtime)))
row("  NEEDED, C and C++ runtime", ", ".join(n for n in needed if n.startswith(runtime)))

widths = [max(len(r[i]) for r in rows + [("Figure", "Measured", "Target", "Met")]) for i in range(4)]
line = "  ".join("-" * w for w in widths)
print(line)
print("  ".join(h.ljust(w) for h, w in zip(("Figure", "Measured", "Target", "Met"), widths)))
print(line)
for r in rows:
    print("  ".join(c.ljust(w) for c, w in zip(r, widths)).rstrip())
print(line)
EOF
