#!/usr/bin/env bash
# Installs what is missing, builds, and runs the demo: the kit against the
# local reference service (started in the same process on a loopback port).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/bootstrap.sh
cmake -S . -B build/plain -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORBISGROVE_WARNINGS_AS_ERRORS=ON >/dev/null
cmake --build build/plain -j"$(nproc)" --target orbisgrove-feedback
exec build/plain/tools/cli/orbisgrove-feedback demo
