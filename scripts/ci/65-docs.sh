#!/usr/bin/env bash
# The API reference renders from the public headers without a single Doxygen
# warning (WARN_AS_ERROR), and every relative link in the guide leads to a
# file that exists.
set -euo pipefail
source scripts/ci/lib.sh

build=build/docs
cmake -S . -B "$build" -DORBISGROVE_BUILD_TESTS=OFF -DORBISGROVE_BUILD_TOOLS=OFF -DORBISGROVE_BUILD_EXAMPLES=OFF \
  >/dev/null
cmake --build "$build" --target docs
[ -f "$build/docs/api/html/index.html" ] || {
  echo "Doxygen wrote no index.html" >&2
  exit 1
}
echo "-- API reference: $build/docs/api/html/index.html"

python3 - README.md docs/*.md <<'CHECK'
import pathlib, re, sys
broken = 0
for name in sys.argv[1:]:
    page = pathlib.Path(name)
    text = re.sub(r"^```.*?^```", "", page.read_text(encoding="utf-8"), flags=re.S | re.M)
    text = re.sub(r"`[^`]*`", "", text)
    for target in re.findall(r"\]\(([^)\s]+)\)", text):
        path = target.split("#", 1)[0]
        if path and not re.match(r"^[a-z]+:", path) and not (page.parent / path).exists():
            print(f"{page} links to missing {target}", file=sys.stderr)
            broken += 1
sys.exit(1 if broken else 0)
CHECK
echo "-- guide links: all resolve"
