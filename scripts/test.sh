#!/usr/bin/env bash
# Installs what is missing, builds and runs the whole test suite: every stage
# in scripts/ci/, in name order (a plain build, then AddressSanitizer +
# UndefinedBehaviorSanitizer, then the other checks). Stops at the first failure.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/bootstrap.sh

for stage in scripts/ci/[0-9][0-9]-*.sh; do
  echo "==== ${stage#scripts/ci/} ===="
  start=$SECONDS
  bash "$stage"
  echo "==== ${stage#scripts/ci/} passed in $((SECONDS - start)) s ===="
done
echo "==== all stages passed ===="
