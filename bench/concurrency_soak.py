#!/usr/bin/env python3
"""Runs patch, patch and unpatch of vexlor-bindings together on one directory, round after
round, while a reader parses the bindings file in a loop and a writer rewrites it the way the
runtime does when a binding changes (new content, no marker). Prints, at the end, the rounds,
the runs that failed, the updates of the writer that did not survive the round, and what the
reader saw.

Usage: concurrency_soak.py TOOL SECONDS
"""

import json
import os
import random
import subprocess
import sys
import tempfile
import threading
import time

BINDINGS = "vrcompositor_bindings_generic_hmd.json"


def reader(path, stop, seen):
    while not stop.is_set():
        try:
            with open(path, "rb") as f:
                data = f.read()
        except FileNotFoundError:
            seen["missing"] += 1
            continue
        if not data:
            seen["empty"] += 1
            continue
        try:
            json.loads(data)
            seen["parsed"] += 1
        except ValueError:
            seen["unparseable"] += 1


def main():
    tool, seconds = sys.argv[1], float(sys.argv[2])
    work = tempfile.mkdtemp(prefix="vexlor_soak_")
    path = os.path.join(work, BINDINGS)
    with open(path, "w") as f:
        json.dump({"bindings": {}, "controller_type": "generic_hmd", "counter": 0}, f)
    stop = threading.Event()
    seen = {"parsed": 0, "missing": 0, "empty": 0, "unparseable": 0}
    threading.Thread(target=reader, args=(path, stop, seen), daemon=True).start()
    rounds = failed = lost = 0
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        rounds += 1
        runs = [subprocess.Popen([tool, command, work, "--quiet"], stderr=subprocess.PIPE)
                for command in ("patch", "patch", "unpatch")]
        time.sleep(random.uniform(0, 0.01))
        # The runtime writes without taking any lock: to a temporary file renamed over.
        update = {"bindings": {"/actions/runtime": {"round": rounds}}, "counter": rounds}
        with open(path + ".runtime", "w") as f:
            json.dump(update, f)
        os.replace(path + ".runtime", path)
        for run in runs:
            _, err = run.communicate()
            if run.returncode != 0:
                failed += 1
                print("exit %d: %s" % (run.returncode, err.decode().strip()), file=sys.stderr)
        with open(path, "rb") as f:
            if json.loads(f.read()).get("counter") != rounds:
                lost += 1
    stop.set()
    leftovers = [n for n in os.listdir(work) if n.endswith(".vexlor_tmp")]
    print("rounds %d, failed runs %d, lost updates %d, temporary files left %d" %
          (rounds, failed, lost, len(leftovers)))
    print("reader: %(parsed)d parsed, %(missing)d missing, %(empty)d empty, "
          "%(unparseable)d unparseable" % seen)


if __name__ == "__main__":
    main()
