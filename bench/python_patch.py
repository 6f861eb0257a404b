#!/usr/bin/env python3
"""The patch as a user would write it in plain Python, timed per call in this one process.

It loads the bindings file with json.load, leaves a file that carries the marker alone,
otherwise sets the same three action sets and the marker, and writes the document with
json.dump (indent 4) to a temporary sibling, flushed to storage, renamed over the file with
os.replace. Unlike the library it keeps no backup and does not flush the directory, so it is
the cheaper of the two by construction.

Usage: python_patch.py DOCUMENTS_DIR WORK_DIR OUTPUT_JSON [SIZE=ITERATIONS ...]
Each SIZE names DOCUMENTS_DIR/SIZE.json; the median time per call goes to OUTPUT_JSON.
"""

import json
import os
import shutil
import statistics
import sys
import time

BINDINGS_FILE = "vrcompositor_bindings_generic_hmd.json"
MARKER = "vexlor_patched_v2"
LEGACY_MARKER = "vexlor_patched_v1"
HEAD_SYSTEM_BUTTON = "/user/head/input/system"


def injected_action_sets():
    return {
        "/actions/lasermouse": {
            "poses": [{"output": "/actions/lasermouse/in/Pointer", "path": "/user/head/pose/raw"}],
            "sources": [{
                "inputs": {"click": {"output": "/actions/lasermouse/in/LeftClick"}},
                "mode": "button",
                "path": HEAD_SYSTEM_BUTTON,
            }],
        },
        "/actions/lasermouse_secondary": {
            "poses": [],
            "sources": [{
                "inputs": {"click": {"output": "/actions/lasermouse_secondary/in/SwitchLaserHand"}},
                "mode": "button",
                "path": HEAD_SYSTEM_BUTTON,
            }],
        },
        "/actions/system": {
            "sources": [{
                "inputs": {
                    "double": {"output": "/actions/system/in/ToggleRoomView"},
                    "single": {"output": "/actions/system/in/ToggleDashboard"},
                },
                "mode": "complex_button",
                "path": HEAD_SYSTEM_BUTTON,
            }],
        },
    }


def patch(directory):
    path = os.path.join(directory, BINDINGS_FILE)
    with open(path, encoding="utf-8") as f:
        doc = json.load(f)
    if doc.get(MARKER) is True:
        return
    if not isinstance(doc.get("bindings"), dict):
        doc["bindings"] = {}
    doc["bindings"].update(injected_action_sets())
    doc.pop(LEGACY_MARKER, None)
    doc[MARKER] = True
    temp = path + ".tmp"
    with open(temp, "w", encoding="utf-8") as f:
        json.dump(doc, f, indent=4, ensure_ascii=False)
        f.flush()
        os.fsync(f.fileno())
    os.replace(temp, path)


def lay_down(directory, data):
    """Writes the starting file and flushes it and the directory, outside the timed call."""
    path = os.path.join(directory, BINDINGS_FILE)
    with open(path, "wb") as f:
        f.write(data)
        f.flush()
        os.fsync(f.fileno())
    dir_fd = os.open(directory, os.O_RDONLY)
    try:
        os.fsync(dir_fd)
    finally:
        os.close(dir_fd)


def time_patch(directory, iterations, prepare):
    seconds = []
    for _ in range(iterations):
        prepare()
        start = time.perf_counter()
        patch(directory)
        seconds.append(time.perf_counter() - start)
    return statistics.median(seconds)


def measure_size(documents_dir, work_dir, size, iterations):
    with open(os.path.join(documents_dir, size + ".json"), "rb") as f:
        original = f.read()
    directory = os.path.join(work_dir, "python-" + size)
    os.makedirs(directory, exist_ok=True)
    first = time_patch(directory, iterations, lambda: lay_down(directory, original))
    with open(os.path.join(directory, BINDINGS_FILE), "rb") as f:
        patched = f.read()
    if json.loads(patched).get(MARKER) is not True:
        raise RuntimeError("the Python patch did not mark the %s document" % size)
    lay_down(directory, patched)
    already = time_patch(directory, iterations, lambda: None)
    shutil.rmtree(directory)
    return [
        {"operation": "patch_first", "size": size, "seconds": first, "iterations": iterations},
        {"operation": "patch_already_patched", "size": size, "seconds": already,
         "iterations": iterations},
    ]


def main(argv):
    if len(argv) < 5:
        sys.exit(__doc__)
    documents_dir, work_dir, output = argv[1:4]
    results = []
    for case in argv[4:]:
        size, iterations = case.split("=")
        results += measure_size(documents_dir, work_dir, size, int(iterations))
    with open(output, "w", encoding="utf-8") as f:
        json.dump({"work_dir": work_dir, "results": results}, f, indent=2)


if __name__ == "__main__":
    main(sys.argv)
