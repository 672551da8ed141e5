#!/usr/bin/env bash
# The kit as a host receives it: built without tests, installed into a
# temporary prefix and packaged as a .deb; then programs outside the tree
# build against it (CMake package, shared and static; pkg-config, shared and
# static; add_subdirectory) and run against the reference service from the
# installed tool.
set -euo pipefail
source scripts/ci/lib.sh

build=build/install
scratch=$(mktemp -d "${TMPDIR:-/tmp}/orbisgrove-install-XXXXXX")
service_pid=
cleanup() {
  if [ -n "$service_pid" ]; then
    kill "$service_pid" 2>/dev/null || true
    wait "$service_pid" 2>/dev/null || true
  fi
  rm -rf "$scratch"
}
trap cleanup EXIT

step() { echo "-- $*"; }
fail() {
  echo "FAILED: $*" >&2
  exit 1
}

step "building the kit and the tool (no tests)"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORBISGROVE_WARNINGS_AS_ERRORS=ON \
  -DORBISGROVE_BUILD_TESTS=OFF -DORBISGROVE_BUILD_EXAMPLES=OFF -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
cmake --build "$build" -j"$jobs"

step "exported symbols"
python3 scripts/ci/check_exported_symbols.py "$build/src/libOrbisgroveFeedbackKit.so" include "$build/include"

step "Debian package"
(cd "$build" && rm -f ./*.deb && cpack -G DEB >/dev/null)
deb=$(ls "$build"/orbisgrove-feedback-kit_*.deb)
dpkg-deb -c "$deb" >"$scratch/deb-files"
for file in usr/bin/orbisgrove-feedback usr/include/orbisgrove/OrbisgroveFeedbackKit.hpp \
  usr/include/orbisgrove/Version.hpp usr/lib/x86_64-linux-gnu/libOrbisgroveFeedbackKit.so.1.0.0 \
  usr/lib/x86_64-linux-gnu/libOrbisgroveFeedbackKit.so.1 usr/lib/x86_64-linux-gnu/libOrbisgroveFeedbackKit.a \
  usr/lib/x86_64-linux-gnu/cmake/OrbisgroveFeedbackKit/OrbisgroveFeedbackKitConfig.cmake \
  usr/lib/x86_64-linux-gnu/pkgconfig/orbisgrove-feedback-kit.pc; do
  grep -q " \./$file" "$scratch/deb-files" || fail "$deb lacks /$file"
done
depends=$(dpkg-deb -f "$deb" Depends)
for package in libc6 libstdc++6 libcurl4 libssl3 libplist3; do
  [[ "$depends" == *"$package"* ]] || fail "$deb does not depend on $package (Depends: $depends)"
done
[[ "$depends" == *libicu* ]] || fail "$deb does not depend on ICU (Depends: $depends)"
dpkg-deb -x "$deb" "$scratch/deb"
grep -q '^prefix=/usr$' "$scratch/deb/usr/lib/x86_64-linux-gnu/pkgconfig/orbisgrove-feedback-kit.pc" ||
  fail "the packaged pkg-config file does not have prefix /usr"
"$scratch/deb/usr/bin/orbisgrove-feedback" --help >/dev/null
echo "$(basename "$deb"): $(grep -c . "$scratch/deb-files") entries; Depends: $depends"

step "installing into a temporary prefix"
prefix=$scratch/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
libdir=$(dirname "$(find "$prefix" -name libOrbisgroveFeedbackKit.so.1)")

step "installed headers: self-contained, public and standard includes only"
# The C++20 standard library's headers and the C headers a C interface may use.
standard_headers=" algorithm any array atomic barrier bit bitset cassert cctype cerrno cfenv cfloat charconv chrono
cinttypes climits clocale cmath compare complex concepts condition_variable coroutine csetjmp csignal cstdarg cstddef
cstdint cstdio cstdlib cstring ctime cuchar cwchar cwctype deque exception execution filesystem format forward_list
fstream functional future initializer_list iomanip ios iosfwd iostream istream iterator latch limits list locale map
memory memory_resource mutex new numbers numeric optional ostream queue random ranges ratio regex scoped_allocator
semaphore set shared_mutex source_location span sstream stack stdexcept stop_token streambuf string string_view
syncstream system_error thread tuple type_traits typeindex typeinfo unordered_map unordered_set utility valarray variant
vector version assert.h ctype.h errno.h float.h inttypes.h limits.h stdarg.h stdbool.h stddef.h stdint.h stdio.h
stdlib.h string.h time.h wchar.h "
standard_headers=${standard_headers//$'\n'/ }
while IFS= read -r header; do
  relative=${header#"$prefix/include/"}
  while IFS= read -r included; do
    case "$included" in
      '<orbisgrove/'*'>') [ -f "$prefix/include/${included:1:-1}" ] || fail "$relative includes missing $included" ;;
      '<'*'>') [[ "$standard_headers" == *" ${included:1:-1} "* ]] || fail "$relative includes $included" ;;
      *) fail "$relative includes $included" ;;
    esac
  done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*\([<"][^>"]*[>"]\).*/\1/p' "$header")
  # Included twice, alone, with a host's strict warnings.
  unit=$(printf '#include <%s>\n#include <%s>\n' "$relative" "$relative")
  if [[ "$header" == *.h ]]; then
    ${CC:-cc} -std=c99 -Wall -Wextra -Wpedantic -Werror -fsyntax-only -I"$prefix/include" -x c - <<<"$unit"
  fi
  ${CXX:-c++} -std=c++20 -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Werror -fsyntax-only -I"$prefix/include" \
    -x c++ - <<<"$unit"
done < <(find "$prefix/include" -type f -name '*.h*' | sort)

step "starting the reference service from the installed tool"
"$prefix/bin/orbisgrove-feedback" serve --port 0 >"$scratch/service.out" 2>"$scratch/service.err" &
service_pid=$!
for _ in $(seq 600); do
  grep -q '^trust this CA: ' "$scratch/service.out" && break
  kill -0 "$service_pid" 2>/dev/null || fail "the reference service ended: $(cat "$scratch/service.err")"
  sleep 0.1
done
host=$(sed -n 's|^listening on https://\([^/]*\)/.*|\1|p' "$scratch/service.out")
ca=$(sed -n 's|^trust this CA: ||p' "$scratch/service.out")
[ -n "$host" ] && [ -n "$ca" ] || fail "the reference service did not announce itself"
echo "service at $host"

# run_consumer <program>: with a cache directory of its own, so that its
# first list comes from the service.
run_consumer() {
  local cache
  cache=$(mktemp -d "$scratch/cache-XXXXXX")
  TMPDIR=$cache "$1" "$host" "$ca" 2>"$cache/stderr" || {
    cat "$cache/stderr" >&2
    fail "$1"
  }
}

step "consumer: find_package (shared and static)"
cmake -S tests/consumers/find_package -B "$scratch/find_package" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$scratch/find_package" -j"$jobs" >/dev/null
run_consumer "$scratch/find_package/consumer_shared"
run_consumer "$scratch/find_package/consumer_static"
# The shared consumer loads the installed library, the static one none.
ldd "$scratch/find_package/consumer_shared" | grep -q "$libdir/libOrbisgroveFeedbackKit.so.1" ||
  fail "consumer_shared does not load the installed library"
if ldd "$scratch/find_package/consumer_static" | grep -q libOrbisgroveFeedbackKit; then
  fail "consumer_static loads the shared library"
fi

step "consumer: pkg-config (shared and static)"
mkdir -p "$scratch/pkg_config"
PKG_CONFIG_PATH="$libdir/pkgconfig" make --no-print-directory -s -f "$PWD/tests/consumers/pkg_config/Makefile" \
  -C "$scratch/pkg_config"
(
  export LD_LIBRARY_PATH=$libdir
  run_consumer "$scratch/pkg_config/consumer_shared"
)
run_consumer "$scratch/pkg_config/consumer_static"

step "consumer: add_subdirectory (the kit's tests and tools off)"
cmake -S tests/consumers/add_subdirectory -B "$scratch/add_subdirectory" -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$scratch/add_subdirectory" -j"$jobs" >/dev/null
run_consumer "$scratch/add_subdirectory/consumer"

echo "install, package and consumers: all passed"
