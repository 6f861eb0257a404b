#!/usr/bin/env python3
"""Counts the instructions of each operation and of its floor under callgrind: one call each,
after a warm-up call, so the counts do not depend on the machine's load.

Usage: count_instructions.py BENCH WORK_DIR TOOL OUTPUT_JSON CASE ...   (CASE: operation/size)

Also counts the whole of `TOOL --version`: what process start-up costs the tool.
"""

import glob
import json
import os
import re
import subprocess
import sys
import tempfile

TOTALS = re.compile(r"^(?:summary|totals):\s+(\d+)", re.M)
TRIGGER = re.compile(r"^desc: Trigger: Client Request: (\w+)", re.M)


def callgrind(argv, out_dir, collect_at_start):
    out = os.path.join(out_dir, "callgrind.out")
    subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=" + out,
                    "--collect-atstart=" + ("yes" if collect_at_start else "no")] + argv,
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    counts = {}
    for path in glob.glob(out + "*"):
        with open(path, encoding="utf-8", errors="replace") as f:
            text = f.read()
        total = TOTALS.search(text)
        trigger = TRIGGER.search(text)
        counts[trigger.group(1) if trigger else "program"] = int(total.group(1)) if total else 0
        os.unlink(path)
    return counts


def main(argv):
    if len(argv) < 5:
        sys.exit(__doc__)
    bench, work_dir, tool, output = argv[1:5]
    results = {}
    with tempfile.TemporaryDirectory() as out_dir:
        for case in argv[5:]:
            counts = callgrind([bench, "--vexlor_dir=" + work_dir, "--vexlor_once=" + case],
                               out_dir, collect_at_start=False)
            results[case] = {"operation": counts["operation"], "floor": counts["floor"]}
        results["tool --version"] = callgrind([tool, "--version"], out_dir, True)["program"]
    with open(output, "w", encoding="utf-8") as f:
        json.dump(results, f, indent=2)


if __name__ == "__main__":
    main(sys.argv)
