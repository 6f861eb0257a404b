#!/usr/bin/env python3
"""Times whole processes, as a user meets them: the tool against the plain-Python script with
the same guarantees (bench/python_patch.py), start-up included.

Usage: processes.py TOOL DOCUMENTS_DIR WORK_DIR OUTPUT_JSON SIZE=PAIRS ...

For each SIZE (DOCUMENTS_DIR/SIZE.json) and each command (a first patch, a patch of a file
already patched, the status) the two programs run PAIRS times, one after the other in
alternating order, each on a directory of its own laid down and flushed beforehand. Reported:
the median time of each, the median of the per-pair ratios (Python / tool), and each one's
peak resident memory (ru_maxrss of that very process).
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
    """(seconds, peak resident bytes) of one process, which must succeed."""
    start = time.perf_counter()
    process = subprocess.Popen(argv, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(process.pid, 0)
    seconds = time.perf_counter() - start
    process.returncode = os.waitstatus_to_exitcode(status)
    if process.returncode != 0:
        raise RuntimeError("%s exited with %d" % (" ".join(argv), process.returncode))
    return seconds, usage.ru_maxrss * 1024


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
            elapsed, rss = run(argv[who])
            seconds[who].append(elapsed)
            peak[who] = max(peak[who], rss)
        ratios.append(seconds["python"][-1] / seconds["tool"][-1])
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
