#!/usr/bin/env bash
# Formatting (clang-format 14, the repository's .clang-format) over every C
# and C++ file in git, then clang-tidy (.clang-tidy) over the kit's own code:
# src/ and tools/, and through them the public headers. Any difference or
# finding fails the stage.
set -euo pipefail
source scripts/ci/lib.sh

format=$(command -v clang-format-14 || command -v clang-format)
"$format" --version | grep -q 'version 14\.' || {
  echo "clang-format 14 is needed, found: $("$format" --version)" >&2
  exit 1
}
# Tracked files, and new ones not yet added (so that a local run sees them too).
mapfile -t sources < <(git ls-files --cached --others --exclude-standard -- '*.c' '*.cc' '*.cpp' '*.h' '*.hpp' |
  sort -u | while IFS= read -r file; do [ -f "$file" ] && echo "$file"; done)
echo "-- clang-format: ${#sources[@]} files"
"$format" --dry-run -Werror "${sources[@]}"

# clang-tidy reads the compile commands of a configured (not built) tree;
# clang's own, so that every flag is one clang-tidy understands.
build=build/tidy
CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_EXPORT_COMPILE_COMMANDS=ON \
  -DORBISGROVE_BUILD_TESTS=OFF -DORBISGROVE_BUILD_EXAMPLES=OFF >/dev/null
tidy=$(command -v run-clang-tidy-14 || command -v run-clang-tidy)
echo "-- clang-tidy: $(grep -c '"file": "'"$PWD"'/\(src\|tools\)/' "$build/compile_commands.json") files"
log=$build/clang-tidy.log
status=0
"$tidy" -p "$build" -j"$jobs" -quiet "^$PWD/(src|tools)/" >"$log" 2>&1 || status=$?
# Only the findings and errors, without colour codes.
sed 's/\x1b\[[0-9;]*m//g' "$log" | grep -E -A3 '^[^ ]+:[0-9]+:[0-9]+: (warning|error):' || true
if [ "$status" -ne 0 ]; then
  echo "clang-tidy found problems (full log: $log)" >&2
  exit 1
fi
echo "-- clang-format and clang-tidy: clean"
