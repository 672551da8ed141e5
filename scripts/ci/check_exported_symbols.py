#!/usr/bin/env python3
"""Fails when the shared library exports anything but its public API.

    check_exported_symbols.py LIBRARY HEADER_DIR [HEADER_DIR...]

Every defined dynamic symbol must be either a C++ name in namespace
orbisgrove (or its vtable or type information) whose first name below
`orbisgrove::` / `orbisgrove::platform::` is declared in a public header, or
a C function of the C interface (`orbisgrove_...`) declared there. Names of
the kit's internals and of the libraries it is built on (libcurl, the JSON
library, ICU, libplist) fail however they got in. Every symbol must also
carry the library's one version node (ORBISGROVE_MAJOR.MINOR), the one the
version script names.
"""
import pathlib
import re
import subprocess
import sys

SPECIAL_PREFIXES = ("typeinfo name for ", "typeinfo for ", "vtable for ", "VTT for ", "guard variable for ")
# Internal classes and functions, and third-party names, that must never leak.
FORBIDDEN = re.compile(
    r"OrbisgroveReportCategoriesAPIManager|ReportCategoryCache|loadReportCategories|storeReportCategories|"
    r"descriptiveError|RateLimit|URLSession|CurlSession|Envelope|ReplyRoutine|serviceEndpoint|"
    r"\bcurl_|\bCurl|nlohmann|\bicu_|\bicu::|\bu_[a-z]|\bplist_|PropertyList|\bSSL_|\bEVP_|\bOPENSSL")


VERSION_NODE = re.compile(r"ORBISGROVE_[0-9]+\.[0-9]+")


def defined_dynamic_symbols(library):
    """(mangled, demangled, version) of each defined dynamic symbol, version nodes left out."""
    def names(demangle):
        command = ["nm", "-D", "--defined-only"] + (["-C"] if demangle else []) + [library]
        output = subprocess.run(command, check=True, capture_output=True, text=True).stdout
        result = []
        for line in output.splitlines():
            parts = line.split(" ", 2)
            if len(parts) == 3 and parts[1] != "A":
                result.append(parts[2].partition("@")[::2])
        return result

    mangled, demangled = names(False), names(True)
    if len(mangled) != len(demangled):
        sys.exit("nm listed the symbols differently with and without demangling")
    # nm writes the version after "@@" (the default one) or "@".
    return [(name, shown, version.lstrip("@")) for (name, version), (shown, _) in zip(mangled, demangled)]


def public_names(header_dirs):
    words = set()
    for directory in header_dirs:
        for header in pathlib.Path(directory).rglob("*"):
            if header.suffix in (".h", ".hpp"):
                words.update(re.findall(r"[A-Za-z_][A-Za-z0-9_]*", header.read_text(encoding="utf-8")))
    return words


def problem(mangled, demangled, version, words):
    if not VERSION_NODE.fullmatch(version):
        return f"not under a version node ORBISGROVE_MAJOR.MINOR (version: {version or 'none'})"
    if FORBIDDEN.search(demangled):
        return "internal or third-party name"
    if not mangled.startswith("_Z"):
        if re.fullmatch(r"orbisgrove_[a-z0-9_]+", mangled) and mangled in words:
            return None
        return "not a function of the C interface"
    name = demangled
    for prefix in SPECIAL_PREFIXES:
        if name.startswith(prefix):
            name = name[len(prefix):]
            break
    match = re.match(r"orbisgrove::(?:platform::)?([A-Za-z_][A-Za-z0-9_]*)", name)
    if not match:
        return "outside namespace orbisgrove"
    if match.group(1) not in words:
        return f"{match.group(1)} is not declared in a public header"
    return None


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    library, header_dirs = sys.argv[1], sys.argv[2:]
    words = public_names(header_dirs)
    symbols = defined_dynamic_symbols(library)
    failures = [(demangled, why) for mangled, demangled, version in symbols
                if (why := problem(mangled, demangled, version, words))]
    nodes = sorted({version for _, _, version in symbols})
    if len(nodes) > 1:
        failures.append((library, f"symbols under several version nodes: {', '.join(nodes)}"))
    for demangled, why in failures:
        print(f"exported wrongly ({why}): {demangled}")
    if not symbols:
        sys.exit(f"{library} exports nothing")
    if failures:
        sys.exit(f"{len(failures)} of {len(symbols)} exported symbols are not public API under one version node")
    print(f"{library}: {len(symbols)} exported symbols under {nodes[0]}, all public API")


if __name__ == "__main__":
    main()
