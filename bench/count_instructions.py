#!/usr/bin/env python3
"""Counts instructions under callgrind, which neither the load nor the file system changes.

Usage: count_instructions.py BENCH TOOL MINIMAL DOCUMENTS_DIR WORK_DIR OUTPUT_JSON SIZE ...

For each SIZE and each operation: one call of the operation and one of its floor inside the
benchmark program (after a warm-up call each), and the tool's whole process for the same
command, start-up and exit included. A whole process's floor is the floor's call plus the
whole run of MINIMAL, the least C++ program linked as the tool is: no program doing the job
starts and ends with less. Also counted: the instructions before `main` of `TOOL --version`
and of MINIMAL, and each one's whole run.
"""

import glob
import json
import os
import re
import subprocess
import sys
import tempfile

import processes

TOTALS = re.compile(r"^(?:summary|totals):\s+(\d+)", re.M)
TRIGGER = re.compile(r"^desc: Trigger: (.*)$", re.M)
IN_PROCESS_ONLY = ["atomic_write"]  # the library call has no command of its own


def callgrind(argv, out_dir, *options):
    """{trigger: instructions} of one run, one entry per dump."""
    out = os.path.join(out_dir, "callgrind.out")
    subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=" + out]
                   + list(options) + argv,
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    counts = {}
    for path in glob.glob(out + "*"):
        with open(path, encoding="utf-8", errors="replace") as f:
            text = f.read()
        total = TOTALS.search(text)
        trigger = TRIGGER.search(text).group(1)
        counts[trigger.split(": ")[-1]] = int(total.group(1)) if total else 0
        os.unlink(path)
    return counts


def start_up(program_argv, out_dir):
    """Instructions before `main`, and of the whole run."""
    counts = callgrind(program_argv, out_dir, "--dump-before=main")
    return {"before_main": counts["--dump-before=main"], "whole": sum(counts.values())}


def in_process(bench, work_dir, case, out_dir):
    counts = callgrind([bench, "--vexlor_dir=" + work_dir, "--vexlor_once=" + case], out_dir,
                       "--collect-atstart=no")
    return {"operation": counts["operation"], "floor": counts["floor"]}


def whole_tool(tool, command, documents, work_dir, out_dir):
    directory = os.path.join(work_dir, "process")
    processes.lay_down_start(directory, command, documents, tool)
    return sum(callgrind(processes.tool_argv(tool, command, directory), out_dir).values())


def main(argv):
    if len(argv) < 8:
        sys.exit(__doc__)
    bench, tool, minimal, documents_dir, work_dir, output = argv[1:7]
    results = {"cases": {}}
    with tempfile.TemporaryDirectory() as out_dir:
        results["tool"] = start_up([tool, "--version"], out_dir)
        results["minimal"] = start_up([minimal], out_dir)
        for size in argv[7:]:
            documents = processes.documents_of(tool, work_dir, documents_dir, size)
            for operation in IN_PROCESS_ONLY + list(processes.COMMANDS):
                case = "%s/%s" % (operation, size)
                row = in_process(bench, os.path.join(work_dir, "cases"), case, out_dir)
                if operation in processes.COMMANDS:
                    row["tool_process"] = whole_tool(tool, operation, documents, work_dir,
                                                     out_dir)
                    row["floor_process"] = row["floor"] + results["minimal"]["whole"]
                results["cases"][case] = row
    with open(output, "w", encoding="utf-8") as f:
        json.dump(results, f, indent=2)


if __name__ == "__main__":
    main(sys.argv)
