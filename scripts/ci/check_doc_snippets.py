#!/usr/bin/env python3
"""Checks the code in the guide against the kit as it installs.

    check_doc_snippets.py [--keep] PAGE.md...

Every fenced block of a page names its language; `text` is for synopses,
diagrams and output. The words after the language say how a block of C, C++
or shell is checked (docs/development.md, "Code in the guide"):

  c, cpp                 a whole translation unit, compiled against the installed
                         headers; one that defines main() is linked against the
                         installed shared library and run against a fresh reference
                         service, with its HOST:PORT and CA file as arguments
  c fragment,            statements, compiled as the body of a function after the
  cpp fragment           umbrella header (C: <orbisgrove/feedback.h> and <stdio.h>)
  ... file=NAME          also written to NAME in the page's working directory
  sh, bash               `bash -n`
  sh run                 also run, with `bash -euo pipefail`, in the page's working
                         directory (a new one for each page)
  sh run-in-source       also run from the root of the source tree, before anything
                         else: these build and install the kit the others use
  console                `bash -n` of each command after "$ "
  console run            each command is run; its output must be the lines shown
  LANG sketch            not checked: code for a platform CI does not have

Blocks that run see the guide's example prefix and build directory replaced
with the check's own (EXAMPLE_PREFIX, EXAMPLE_BUILD), the installed bin/ first
in PATH and a TMPDIR of their own. Compiler messages name the page and line.
"""
import concurrent.futures
import difflib
import os
import pathlib
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

SOURCE = pathlib.Path(__file__).resolve().parents[2]
# The words each checked language takes after it.
WORDS = {
    "c": {"fragment", "sketch"},
    "cpp": {"fragment", "sketch"},
    "sh": {"run", "run-in-source", "sketch"},
    "bash": {"run", "run-in-source", "sketch"},
    "console": {"run", "sketch"},
}
SHELLS = ("sh", "bash", "console")
EXAMPLE_PREFIX = "/opt/orbisgrove"
EXAMPLE_BUILD = ("build/release", "build/doc-snippets")
CXXFLAGS = ["-std=c++20", "-Wall", "-Wextra", "-Wno-unused", "-Wno-unused-parameter", "-Werror"]
CFLAGS = ["-std=c99", "-Wall", "-Wextra", "-Wpedantic", "-Wno-unused", "-Wno-unused-parameter", "-Werror"]
RUN_SECONDS = 180
BUILD_SECONDS = 1800
SHOWN_LINES = 80


class Block:
    def __init__(self, page, line, language, words, text):
        self.page, self.line, self.language, self.text = page, line, language, text
        self.file = next((word[5:] for word in words if word.startswith("file=")), None)
        self.words = {word for word in words if not word.startswith("file=")}

    def where(self):
        return f"{self.page}:{self.line}"


def read_blocks(page):
    """The fenced blocks of a page; a fence without a language is an error."""
    blocks, problems = [], []
    lines = page.read_text(encoding="utf-8").split("\n")
    number = 0
    while number < len(lines):
        opening = re.match(r"^ {0,3}(`{3,}|~{3,})(.*)$", lines[number])
        number += 1
        if not opening:
            continue
        fence, info = opening.group(1), opening.group(2).split()
        closing = re.compile(rf"^ {{0,3}}{fence[0]}{{{len(fence)},}}\s*$")
        start = number
        while number < len(lines) and not closing.match(lines[number]):
            number += 1
        text = "\n".join(lines[start:number]) + "\n"
        number += 1
        if not info:
            problems.append(f"{page}:{start}: a fenced block without a language (`text` for one that is not code)")
            continue
        block = Block(page, start, info[0], info[1:], text)
        unknown = block.words - WORDS.get(block.language, block.words)
        if unknown:
            problems.append(f"{block.where()}: {block.language} takes no {sorted(unknown)} after the language")
        blocks.append(block)
    return blocks, problems


def console_commands(text):
    """(command, expected output) pairs of a console transcript."""
    pairs = []
    for line in text.rstrip("\n").split("\n"):
        if line.startswith("$ "):
            pairs.append([line[2:], []])
        elif pairs and pairs[-1][0].endswith("\\") and not pairs[-1][1]:
            pairs[-1][0] += "\n" + line
        elif pairs:
            pairs[-1][1].append(line)
    return [(command, "\n".join(output)) for command, output in pairs]


def shell_text(block):
    if block.language == "console":
        return "\n".join(command for command, _ in console_commands(block.text)) + "\n"
    return block.text


class Checker:
    def __init__(self, scratch):
        self.scratch = scratch
        self.prefix = scratch / "prefix"
        self.substitutions = {EXAMPLE_PREFIX: str(self.prefix), EXAMPLE_BUILD[0]: EXAMPLE_BUILD[1]}
        self.failures = []
        self.counts = {"syntax": 0, "compiled": 0, "ran": 0, "sketch": 0}

    def fail(self, block, message, output=""):
        lines = output.rstrip().split("\n") if output.strip() else []
        if len(lines) > SHOWN_LINES:
            lines = [f"(the last {SHOWN_LINES} lines)"] + lines[-SHOWN_LINES:]
        self.failures.append("\n".join([f"{block.where()}: {message}"] + lines))

    def workspace(self, page):
        """The page's working directory."""
        work = self.scratch / "pages" / str(page).replace("/", "-")
        work.mkdir(parents=True, exist_ok=True)
        return work

    def substitute(self, text):
        for example, actual in self.substitutions.items():
            text = text.replace(example, actual)
        return text

    def environment(self, tmpdir):
        """What a reader's shell would have, with the installed tool first in PATH."""
        path = f"{self.prefix / 'bin'}{os.pathsep}{os.environ['PATH']}"
        environment = dict(os.environ, TMPDIR=str(tmpdir), PATH=path)
        environment.pop("PKG_CONFIG_PATH", None)
        return environment

    def run(self, block, command, cwd, seconds=RUN_SECONDS, **options):
        """Runs in a process group of its own, so that what it leaves running (a service started with `&`) is
        stopped after. Output goes to a file: such a process would hold a pipe open."""
        tmpdir = pathlib.Path(tempfile.mkdtemp(dir=self.scratch, prefix="tmp-"))
        with open(tmpdir / ".output", "w+", encoding="utf-8", errors="replace") as output:
            process = subprocess.Popen(command, cwd=cwd, env=self.environment(tmpdir), stdin=subprocess.DEVNULL,
                                       stdout=output, stderr=subprocess.STDOUT, text=True, start_new_session=True,
                                       **options)
            try:
                status = process.wait(timeout=seconds)
            except subprocess.TimeoutExpired:
                status = f"none, stopped after {seconds} s"
            finally:
                try:
                    os.killpg(process.pid, signal.SIGTERM)
                except ProcessLookupError:
                    pass
                process.wait()
            output.seek(0)
            return status, output.read()

    def check_syntax(self, block):
        result = subprocess.run(["bash", "-n"], input=shell_text(block), text=True, capture_output=True)
        self.counts["syntax"] += 1
        if result.returncode != 0:
            self.fail(block, "bash -n finds a syntax error", result.stderr)

    def run_shell(self, block, cwd):
        """Variables a page's block exports reach the page's later blocks, as in one terminal."""
        seconds = BUILD_SECONDS if "run-in-source" in block.words else RUN_SECONDS
        exported, before = self.workspace(block.page) / ".exported", self.scratch / "exported-before"
        keep_exports = f'export -p | sort | comm -13 "{before}" - >>"{exported}"'
        script = (f'touch "{exported}"; . "{exported}"; export -p | sort >"{before}"\n'
                  f"trap '{keep_exports}' EXIT\n{self.substitute(block.text)}\n")
        status, output = self.run(block, ["bash", "-euo", "pipefail", "-c", script], cwd, seconds)
        self.counts["ran"] += 1
        if status != 0:
            self.fail(block, f"the commands failed (status {status})", output)

    def run_console(self, block, cwd):
        for command, expected in console_commands(block.text):
            status, output = self.run(block, ["bash", "-c", self.substitute(command)], cwd)
            self.counts["ran"] += 1
            if status != 0 or output.rstrip("\n") != expected:
                difference = difflib.unified_diff(expected.split("\n"), output.rstrip("\n").split("\n"), "the page",
                                                  "the output", lineterm="")
                self.fail(block, f"`{command}` (status {status}) does not print what the page shows",
                          "\n".join(difference))

    def unit(self, block):
        """The source to compile, with #line so that messages name the page."""
        fragment = "fragment" in block.words
        head = ""
        if fragment and block.language == "cpp":
            head = "#include <orbisgrove/OrbisgroveFeedbackKit.hpp>\nvoid orbisgrove_doc_fragment() {\n"
        elif fragment:
            head = "#include <orbisgrove/feedback.h>\n#include <stdio.h>\nvoid orbisgrove_doc_fragment(void) {\n"
        return f'{head}#line {block.line + 1} "{block.page}"\n{block.text}' + ("}\n" if fragment else "")

    def compile_and_run(self, block, number):
        work = self.scratch / "units"
        suffix = ".cpp" if block.language == "cpp" else ".c"
        source = work / f"{number:03d}{suffix}"
        source.write_text(self.unit(block), encoding="utf-8")
        compiler = os.environ.get("CXX", "c++") if suffix == ".cpp" else os.environ.get("CC", "cc")
        flags = CXXFLAGS if suffix == ".cpp" else CFLAGS
        package = self.pkg_config("--cflags")
        complete = "fragment" not in block.words and re.search(r"\bint\s+main\s*\(", block.text)
        if not complete:
            command = [compiler, *flags, *package, "-c", str(source), "-o", str(source.with_suffix(".o"))]
        else:
            libdir = self.pkg_config("--variable=libdir")[0]
            command = [compiler, *flags, *package, str(source), "-o", str(source.with_suffix("")),
                       *self.pkg_config("--libs"), f"-Wl,-rpath,{libdir}"]
        result = subprocess.run(command, cwd=SOURCE, capture_output=True, text=True)
        if result.returncode != 0:
            return block, "does not compile", result.stdout + result.stderr
        if not complete:
            return block, None, "compiled"
        status, output = self.run(block, [sys.executable, str(SOURCE / "examples/run_with_reference_service.py"),
                                          str(self.prefix / "bin/orbisgrove-feedback"), "--",
                                          str(source.with_suffix(""))], SOURCE)
        if status != 0:
            return block, f"ran against the reference service with status {status}", output
        return block, None, "compiled, linked and ran against the reference service"

    def pkg_config(self, *arguments):
        environment = dict(os.environ, PKG_CONFIG_PATH=str(self.prefix / "lib/pkgconfig"))
        result = subprocess.run(["pkg-config", *arguments, "orbisgrove-feedback-kit"], env=environment,
                                capture_output=True, text=True, check=True)
        return result.stdout.split()

    def check(self, pages):
        blocks = []
        for page in pages:
            found, problems = read_blocks(page)
            blocks += found
            self.failures += problems
        checked = [block for block in blocks if block.language in WORDS]
        for block in checked:
            if "sketch" in block.words:
                self.counts["sketch"] += 1
            elif block.language in SHELLS:
                self.check_syntax(block)
        live = [block for block in checked if "sketch" not in block.words]

        started = time.monotonic()
        for block in [block for block in live if block.language in SHELLS and "run-in-source" in block.words]:
            print(f"-- {block.where()}: running from the source tree", flush=True)
            self.run_shell(block, SOURCE)
        if not (self.prefix / "lib/pkgconfig/orbisgrove-feedback-kit.pc").exists():
            self.failures.append(f"no `run-in-source` block installed the kit into {EXAMPLE_PREFIX} ({self.prefix})")
            return
        print(f"-- installed into {self.prefix} in {time.monotonic() - started:.0f} s", flush=True)

        (self.scratch / "units").mkdir()
        units = [block for block in live if block.language in ("c", "cpp")]
        with concurrent.futures.ThreadPoolExecutor(max_workers=os.cpu_count() or 2) as pool:
            for block, problem, output in pool.map(self.compile_and_run, units, range(len(units))):
                self.counts["compiled"] += 1
                if problem:
                    self.fail(block, problem, output)
                else:
                    print(f"   {block.where()}: {output}", flush=True)

        for page in pages:
            work = self.workspace(page)
            for block in [block for block in blocks if block.page == page and block.file]:
                (work / block.file).write_text(self.substitute(block.text), encoding="utf-8")
            for block in [block for block in live if block.page == page and block.language in SHELLS and
                          "run" in block.words]:
                if block.language == "console":
                    self.run_console(block, work)
                else:
                    self.run_shell(block, work)


def main():
    arguments = sys.argv[1:]
    keep = "--keep" in arguments
    pages = [pathlib.Path(argument) for argument in arguments if argument != "--keep"]
    if not pages:
        sys.exit(__doc__)
    scratch = pathlib.Path(tempfile.mkdtemp(prefix="orbisgrove-doc-snippets-"))
    checker = Checker(scratch)
    try:
        checker.check(pages)
    finally:
        if keep:
            print(f"-- kept {scratch}")
        else:
            shutil.rmtree(scratch, ignore_errors=True)
    counts = checker.counts
    print(f"-- {counts['syntax']} shell blocks parsed, {counts['compiled']} C and C++ blocks compiled, "
          f"{counts['ran']} commands and blocks run, {counts['sketch']} sketches left alone")
    for failure in checker.failures:
        print(f"FAILED: {failure}", file=sys.stderr)
    sys.exit(1 if checker.failures else 0)


if __name__ == "__main__":
    main()
