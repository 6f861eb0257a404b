#!/usr/bin/env python3
"""The patch as a careful user would write it in plain Python, with the tool's guarantees.

  python_patch.py patch DIR    patch the bindings file in DIR
  python_patch.py status DIR   print whether it is patched

Like the tool, the patch holds a lock on the directory, leaves a file that carries the marker
alone, keeps the original once as a backup (written to a temporary file, flushed, linked into
place without replacing anything, the directory flushed), and replaces the file through a
temporary file, flushed, renamed, the directory flushed. It sets the same three action sets
and the marker and writes the document as the tool does (indent 4, sorted keys, UTF-8).
It runs as its own process, start-up included, as a user would run it.
"""

import fcntl
import json
import os
import sys

BINDINGS_FILE = "vrcompositor_bindings_generic_hmd.json"
BACKUP_SUFFIX = ".vexlor_backup"
TEMP_SUFFIX = ".vexlor_tmp"
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


def sync_directory(directory):
    fd = os.open(directory, os.O_RDONLY | os.O_DIRECTORY)
    try:
        os.fsync(fd)
    finally:
        os.close(fd)


def write_flushed(path, data):
    fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_NOFOLLOW, 0o644)
    try:
        view = memoryview(data)
        while view:
            view = view[os.write(fd, view):]
        os.fsync(fd)
    finally:
        os.close(fd)


def fresh_temp(path):
    temp = path + TEMP_SUFFIX
    try:
        os.unlink(temp)
    except FileNotFoundError:
        pass
    return temp


def keep_backup(path, data):
    backup = path + BACKUP_SUFFIX
    if os.path.exists(backup):
        return
    temp = fresh_temp(backup)
    write_flushed(temp, data)
    os.link(temp, backup)  # refuses to replace a backup that appeared meanwhile
    os.unlink(temp)
    sync_directory(os.path.dirname(path))


def replace_durably(path, data):
    temp = fresh_temp(path)
    write_flushed(temp, data)
    os.replace(temp, path)
    sync_directory(os.path.dirname(path))


def read_document(directory):
    path = os.path.join(directory, BINDINGS_FILE)
    with open(path, "rb") as f:
        data = f.read()
    return path, data, json.loads(data)


def patch(directory):
    path, original, doc = read_document(directory)
    if isinstance(doc, dict) and doc.get(MARKER) is True:
        return 0
    if doc is None:
        doc = {}
    if not isinstance(doc, dict):
        return 1
    if not isinstance(doc.get("bindings"), dict):
        doc["bindings"] = {}
    doc["bindings"].update(injected_action_sets())
    doc.pop(LEGACY_MARKER, None)
    doc[MARKER] = True
    patched = json.dumps(doc, indent=4, ensure_ascii=False, sort_keys=True).encode("utf-8")
    keep_backup(path, original)
    replace_durably(path, patched)
    return 0


def status(directory):
    _, _, doc = read_document(directory)
    patched = isinstance(doc, dict) and doc.get(MARKER) is True
    print("bindings file: " + ("patched" if patched else "not patched"))
    return 0


def main(argv):
    if len(argv) != 3 or argv[1] not in ("patch", "status"):
        sys.exit(__doc__)
    directory = argv[2]
    if argv[1] == "status":
        return status(directory)
    lock = os.open(directory, os.O_RDONLY | os.O_DIRECTORY)
    fcntl.flock(lock, fcntl.LOCK_EX)
    return patch(directory)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
