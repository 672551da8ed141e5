#!/usr/bin/env bash
# The guide's code as a reader meets it. The quick start's own commands build
# the kit and install it into a scratch prefix; every C and C++ block compiles
# against that install, and those with main() run against the reference
# service; every shell block parses, and those marked `run` run. Blocks marked
# `sketch` (code for platforms CI does not have) are left alone. See
# docs/development.md, "Code in the guide".
set -euo pipefail
source scripts/ci/lib.sh

python3 scripts/ci/check_doc_snippets.py README.md docs/*.md
echo "-- the guide's code: all checked in ${SECONDS} s"
