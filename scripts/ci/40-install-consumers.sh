#!/usr/bin/env bash
# The kit as a host receives it: built without tests and packaged as a .deb;
# installed into a temporary prefix, whose headers must each stand alone;
# built as part of a host's own tree (add_subdirectory) and run against the
# reference service from the installed tool. The find_package and pkg-config
# hosts (tests/consumers) and the exported-symbol check are ctest tests of
# every suite, so they are not repeated here.
set -euo pipefail
source scripts/ci/lib.sh

build=build/install
scratch=$(mktemp -d "${TMPDIR:-/tmp}/orbisgrove-install-XXXXXX")
trap 'rm -rf "$scratch"' EXIT

step() { echo "-- $*"; }
fail() {
  echo "FAILED: $*" >&2
  exit 1
}

step "building the kit and the tool (no tests)"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORBISGROVE_WARNINGS_AS_ERRORS=ON \
  -DORBISGROVE_BUILD_TESTS=OFF -DORBISGROVE_BUILD_EXAMPLES=OFF -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
cmake --build "$build" -j"$jobs"

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

step "consumer: add_subdirectory (the kit's tests and tools off)"
cmake -S tests/consumers/add_subdirectory -B "$scratch/add_subdirectory" -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$scratch/add_subdirectory" -j"$jobs" >/dev/null
"$scratch/add_subdirectory/consumer" || fail "the add_subdirectory consumer"
python3 examples/run_with_reference_service.py "$prefix/bin/orbisgrove-feedback" -- \
  "$scratch/add_subdirectory/host" || fail "the add_subdirectory host"

echo "package, installed headers and the add_subdirectory consumer: all passed"
