#!/usr/bin/env python3
"""Times whole processes, as a user meets them: the tool against the plain-Python script with
the same guarantees (bench/python_patch.py), start-up included.

Usage: processes.py TOOL DOCUMENTS_DIR WORK_DIR OUTPUT_JSON SIZE=PAIRS ...

For each SIZE (DOCUMENTS_DIR/SIZE.json) and each command (a first patch, a patch of a file
already patched, the status) the two programs run PAIRS times, one after the other in
alternating order, each on a directory of its own laid down and flushed beforehand. Reported:
the median time of each, the median of the per-pair ratios (Python / tool), and each one's
peak resident memory in one more run.
"""

import json
import os
import statistics
import subprocess
import sys
import time

BINDINGS_FILE = "vrcompositor_bindings_generic_hmd.json"
BACKUP = BINDINGS_FILE + ".vexlor_backup"
PYTHON_SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "python_patch.py")


def lay_down(directory, data):
    os.makedirs(directory, exist_ok=True)
    for name in os.listdir(directory):
        os.unlink(os.path.join(directory, name))
    with open(os.path.join(directory, BINDINGS_FILE), "wb") as f:
        f.write(data)
        f.flush()
        os.fsync(f.fileno())
    fd = os.open(directory, os.O_RDONLY)
    try:
        os.fsync(fd)
    finally:
        os.close(fd)


def run(argv):
    """The seconds one process takes, which must succeed."""
    start = time.perf_counter()
    subprocess.run(argv, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    return time.perf_counter() - start


def peak_resident_bytes(argv, work_dir):
    """The peak resident memory of one run. Measured by GNU time, whose small forked child
    is what execs the program: a child forked from this interpreter would count the
    interpreter's pages it held before the exec."""
    report = os.path.join(work_dir, "maxrss")
    subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report] + argv,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    with open(report, encoding="utf-8") as f:
        return int(f.read().split()[-1]) * 1024


def contest(command, start_bytes, tool, work_dir, pairs):
    dirs = {"tool": os.path.join(work_dir, "tool"), "python": os.path.join(work_dir, "python")}
    argv = {"tool": [tool, command, dirs["tool"]] + (["--quiet"] if command == "patch" else []),
            "python": [sys.executable, PYTHON_SCRIPT, command, dirs["python"]]}
    seconds = {"tool": [], "python": []}
    peak = {"tool": 0, "python": 0}
    ratios = []
    for i in range(pairs):
        order = ["tool", "python"] if i % 2 == 0 else ["python", "tool"]
        for who in order:
            lay_down(dirs[who], start_bytes)
        for who in order:
            seconds[who].append(run(argv[who]))
        ratios.append(seconds["python"][-1] / seconds["tool"][-1])
    for who in peak:
        lay_down(dirs[who], start_bytes)
        peak[who] = peak_resident_bytes(argv[who], work_dir)
    return {"tool_seconds": statistics.median(seconds["tool"]),
            "python_seconds": statistics.median(seconds["python"]),
            "python_over_tool": statistics.median(ratios),
            "tool_peak_rss": peak["tool"], "python_peak_rss": peak["python"]}


def patched_by_tool(tool, work_dir, original):
    directory = os.path.join(work_dir, "prepare")
    lay_down(directory, original)
    run([tool, "patch", directory, "--quiet"])
    with open(os.path.join(directory, BINDINGS_FILE), "rb") as f:
        return f.read()


def main(argv):
    if len(argv) < 6:
        sys.exit(__doc__)
    tool, documents_dir, work_dir, output = argv[1:5]
    results = []
    for case in argv[5:]:
        size, pairs = case.split("=")
        with open(os.path.join(documents_dir, size + ".json"), "rb") as f:
            original = f.read()
        patched = patched_by_tool(tool, work_dir, original)
        for name, command, start in (("patch_first", "patch", original),
                                     ("patch_already_patched", "patch", patched),
                                     ("status", "status", patched)):
            row = contest(command, start, tool, work_dir, int(pairs))
            row.update({"operation": name, "size": size, "file_bytes": len(original)})
            results.append(row)
    with open(output, "w", encoding="utf-8") as f:
        json.dump({"work_dir": work_dir, "results": results}, f, indent=2)


if __name__ == "__main__":
    main(sys.argv)
