#!/usr/bin/env bash
# The kit built without libcurl (ORBISGROVE_WITH_CURL=OFF): the libraries,
# the C example that brings its own transport and, where a JDK is found, the
# Java binding build and install, and neither the
# library nor its installed package needs libcurl or OpenSSL (the package
# asks for liburiparser, which reads URLs in their place). (With tests
# on, the same configuration also runs the URL and host-transport tests and
# the example against the reference service.)
set -euo pipefail
source scripts/ci/lib.sh

dir=build/no-curl
cmake -S . -B "$dir" -DORBISGROVE_WARNINGS_AS_ERRORS=ON -DORBISGROVE_WITH_CURL=OFF -DORBISGROVE_BUILD_TESTS=OFF \
  -DORBISGROVE_BUILD_TOOLS=OFF -DORBISGROVE_BUILD_EXAMPLES=ON -DORBISGROVE_INSTALL=ON >/dev/null
cmake --build "$dir" -j"$jobs"

library=$dir/src/libOrbisgroveFeedbackKit.so
if readelf -d "$library" | grep -E 'NEEDED.*(libcurl|libssl|libcrypto)'; then
  echo "45-no-curl: $library still needs libcurl or OpenSSL" >&2
  exit 1
fi
rm -rf "$dir/installed"
cmake --install "$dir" --prefix "$dir/installed" >/dev/null
pc=$(find "$dir/installed" -name orbisgrove-feedback-kit.pc)
if [ -z "$pc" ] || grep -iE 'libcurl|openssl' "$pc" || ! grep -q 'liburiparser' "$pc"; then
  echo "45-no-curl: no pkg-config file, or it requires libcurl or OpenSSL, or not liburiparser" >&2
  exit 1
fi
echo "-- 45-no-curl: library and transport example built without libcurl"
