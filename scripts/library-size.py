#!/usr/bin/env python3
"""What a shared library costs an application that ships it, as JSON:

  scripts/library-size.py build/bench/src/libOrbisgroveFeedbackKit.so

"stripped": its size after strip; "needed": its NEEDED entries; "closure": every
library it loads, recursively, as the dynamic loader resolves them (ldd), without
the C and C++ runtime, each with the size of its file; "closure_bytes": their sum
(the library itself not included).
"""
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

# The runtime every C++ application on the platform loads anyway.
RUNTIME = re.compile(r"^(libc|libm|libstdc\+\+|libgcc_s|ld-linux[-\w]*|libpthread|libdl|librt)\.so")


def stripped_size(library):
    with tempfile.TemporaryDirectory() as scratch:
        copy = os.path.join(scratch, os.path.basename(library))
        shutil.copyfile(library, copy)
        subprocess.run(["strip", copy], check=True)
        return os.path.getsize(copy)


def needed(library):
    dynamic = subprocess.run(["readelf", "-d", library], capture_output=True, text=True, check=True).stdout
    return re.findall(r"\(NEEDED\)\s+Shared library: \[(.+)\]", dynamic)


def closure(library):
    listing = subprocess.run(["ldd", library], capture_output=True, text=True, check=True).stdout
    found = {}
    for line in listing.splitlines():
        match = re.match(r"\s*(\S+) => (.+) \(0x[0-9a-f]+\)$", line)
        if match is None:
            if "not found" in line:
                sys.exit(f"{library}: {line.strip()}")
            continue
        name, path = match.groups()
        if RUNTIME.match(name):
            continue
        real = os.path.realpath(path)
        found[real] = {"name": name, "path": real, "size": os.path.getsize(real)}
    return sorted(found.values(), key=lambda entry: -entry["size"])


def main():
    if len(sys.argv) != 2:
        sys.exit(f"usage: {sys.argv[0]} LIBRARY.so")
    library = os.path.realpath(sys.argv[1])
    libraries = closure(library)
    print(json.dumps({"library": library, "stripped": stripped_size(library), "needed": needed(library),
                      "closure": libraries, "closure_bytes": sum(entry["size"] for entry in libraries)}, indent=1))


if __name__ == "__main__":
    main()
