#!/usr/bin/env python3
"""Runs one example against a fresh local reference service.

    run_with_reference_service.py [--env NAME=VALUE ...] TOOL -- EXAMPLE [ARGS...]

Starts `TOOL serve --port 0`, reads the service's address and CA file from
the two lines it prints, runs `EXAMPLE ARGS... HOST:PORT CA_FILE` and stops
the service with SIGTERM. Both run with TMPDIR pointing to a new directory,
so the kit's device cache starts empty. --env settings reach the example
only (e.g. LD_PRELOAD of a sanitizer runtime that the tool must not get).
Exits with the example's status, or 1 when the service misbehaves.
"""
import argparse
import os
import queue
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse

STARTUP_SECONDS = 60
EXAMPLE_SECONDS = 180


def read_announcement(service):
    """The service's host and CA file, from the first lines it prints."""
    lines = queue.Queue()
    # A thread reads, so that waiting for a line can time out.
    threading.Thread(target=lambda: [lines.put(line) for line in service.stdout] + [lines.put("")],
                     daemon=True).start()
    url = ca_file = None
    deadline = time.monotonic() + STARTUP_SECONDS
    while url is None or ca_file is None:
        try:
            line = lines.get(timeout=max(0.0, deadline - time.monotonic()))
        except queue.Empty:
            raise RuntimeError("the reference service did not announce itself in time") from None
        if not line:
            raise RuntimeError(f"the reference service ended early (status {service.wait()})")
        sys.stdout.write("service: " + line)
        if match := re.match(r"listening on (\S+)", line):
            url = match.group(1)
        elif match := re.match(r"trust this CA: (.+)$", line.rstrip("\n")):
            ca_file = match.group(1)
    return urllib.parse.urlsplit(url).netloc, ca_file


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--env", action="append", default=[], metavar="NAME=VALUE")
    parser.add_argument("tool")
    parser.add_argument("example", nargs=argparse.REMAINDER)
    options = parser.parse_args()
    example = options.example[1:] if options.example[:1] == ["--"] else options.example
    if not example:
        parser.error("no example command")

    scratch = tempfile.mkdtemp(prefix="orbisgrove-example-")
    environment = dict(os.environ, TMPDIR=scratch)
    service = subprocess.Popen([options.tool, "serve", "--port", "0"], stdout=subprocess.PIPE, text=True,
                               env=environment)
    status = 1
    try:
        host, ca_file = read_announcement(service)
        example_environment = dict(environment)
        for setting in options.env:
            name, _, value = setting.partition("=")
            example_environment[name] = value
        sys.stdout.flush()
        status = subprocess.run(example + [host, ca_file], env=example_environment,
                                timeout=EXAMPLE_SECONDS).returncode
        print(f"example exited with status {status}")
    finally:
        if service.poll() is None:
            service.send_signal(signal.SIGTERM)
            try:
                service.wait(timeout=30)
            except subprocess.TimeoutExpired:
                service.kill()
                service.wait()
        shutil.rmtree(scratch, ignore_errors=True)
    if service.returncode != 0:
        print(f"the reference service exited with status {service.returncode}")
        return 1
    return status


if __name__ == "__main__":
    sys.exit(main())
