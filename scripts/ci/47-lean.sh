#!/usr/bin/env bash
# The lean profile, the one a phone app links: no libcurl and no ICU
# (-DORBISGROVE_WITH_CURL=OFF -DORBISGROVE_WITH_ICU=OFF), warnings as errors.
# Builds it with its tests and runs every test that applies to it. The test
# programs link libcurl of their own (the library does not): before their
# first test they install the examples' C transport
# (examples/c_transport/transport.c, tests/support/HostTransportEnvironment.cpp),
# which makes real HTTPS requests to the local test services and trusts their
# authorities, those of the gateways and misbehaving listeners included,
# with as many workers as the kit's own session opens connections to a host;
# the texts come from the built-in formatter. So the units run, the
# clients', the facade's and the category cache's included, with the
# host-transport tests in C++ and C (transports of their own), and every
# scenario: the outbox's (their child processes, support/KitChild.cpp,
# install the same transport), gateways, faults of the network, many
# threads, exits with requests in flight, first touch and fork. The C
# transport example is built; it runs as a test only where the tool (its
# reference service) is built. Left out, and why:
#  - URLSessionTest, CurlBackendTest, DeliveryLoopTest: they make sessions of
#    the kit's own over libcurl (proxies, pinned keys, HTTP/2, connection
#    reuse, libcurl's error mapping), which this build has not;
#  - in the scenarios, what only the kit's own session does: redirects,
#    HTTP/2's refused streams, the limit on a reply's head, compression,
#    proxies, connection reuse, and telling that a request broken off
#    before its whole body left was never sent (testing::kKitsOwnSession;
#    the three whole tests among them show as skipped);
#  - LocalizedTextTest and ProcessEnvironmentTest: ICU's own formatting in
#    other locales (TextFormatterTest compares ICU's English with the
#    built-in formatter's where ICU is built);
#  - the tools' tests, and the outbox cases that run the tool: the tool is
#    not built here.
# Then checks that the
# shared library needs nothing but SQLite, simdjson, libplist, liburiparser
# and the C and C++ runtime, and that neither the installed pkg-config file
# nor the CMake package asks for ICU, libcurl or OpenSSL. (45-no-curl.sh
# stays: it checks the build without libcurl that keeps ICU.)
set -euo pipefail
source scripts/ci/lib.sh

fail() {
  echo "47-lean: $*" >&2
  exit 1
}

dir=build/lean
run_suite "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORBISGROVE_WITH_CURL=OFF -DORBISGROVE_WITH_ICU=OFF \
  -DORBISGROVE_BUILD_TOOLS=OFF -DORBISGROVE_BUILD_EXAMPLES=ON -DORBISGROVE_INSTALL=ON

library=$dir/src/libOrbisgroveFeedbackKit.so
needed=$(readelf -d "$library" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
allowed='^(libsqlite3|libsimdjson|libplist-2\.0|liburiparser|libc|libm|libstdc\+\+|libgcc_s|ld-linux[-a-z0-9_]*)\.so'
unexpected=$(grep -vE "$allowed" <<<"$needed" || true)
[ -z "$unexpected" ] || fail "$library needs more than the lean set: $unexpected"
echo "-- 47-lean: NEEDED $(tr '\n' ' ' <<<"$needed")"

rm -rf "$dir/installed"
cmake --install "$dir" --prefix "$dir/installed" >/dev/null
pc=$(find "$dir/installed" -name orbisgrove-feedback-kit.pc)
[ -n "$pc" ] || fail "no pkg-config file installed"
if grep -iE 'icu|libcurl|openssl' "$pc"; then
  fail "$pc asks for ICU, libcurl or OpenSSL"
fi
# The package, static libraries included, is found with ICU, libcurl and
# OpenSSL hidden from CMake.
consumer=$dir/lean-consumer
mkdir -p "$consumer"
cat >"$consumer/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.25)
project(lean_consumer CXX)
find_package(OrbisgroveFeedbackKit 1 CONFIG REQUIRED COMPONENTS shared static)
CMAKE
cmake --no-warn-unused-cli -S "$consumer" -B "$consumer/build" -DCMAKE_PREFIX_PATH="$PWD/$dir/installed" -DCMAKE_DISABLE_FIND_PACKAGE_ICU=ON \
  -DCMAKE_DISABLE_FIND_PACKAGE_CURL=ON -DCMAKE_DISABLE_FIND_PACKAGE_OpenSSL=ON >/dev/null ||
  fail "the installed CMake package needs ICU, libcurl or OpenSSL"
echo "-- 47-lean: lean library, its tests and its package checked in ${SECONDS} s"
