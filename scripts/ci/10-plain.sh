#!/usr/bin/env bash
# The whole suite, built as a host would build the kit.
set -euo pipefail
source scripts/ci/lib.sh
run_suite build/plain -DCMAKE_BUILD_TYPE=RelWithDebInfo
