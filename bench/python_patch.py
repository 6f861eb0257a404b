#!/usr/bin/env python3
"""The patch as a careful user would write it in plain Python, with the tool's guarantees.

  python_patch.py patch DIR     patch the bindings file in DIR
  python_patch.py unpatch DIR   undo the patch
  python_patch.py status DIR    print whether it is patched

Like the tool, the patch holds a lock on the directory, leaves a file that carries the marker
alone, keeps the original once as a backup (written to a temporary file, flushed, linked into
place without replacing anything, the directory flushed), and replaces the file through a
temporary file, flushed, renamed, the directory flushed. It sets the same three action sets
and the marker and writes the document as the tool does (indent 4, sorted keys, UTF-8).
The unpatch holds the same lock and follows the tool's rules: the backup's bytes come back
only while the file is still the backup or exactly what the patch made of it; a file changed
since that still carries a marker is undone in place (the patch's action sets take the
backup's values, the markers go, the rest stays), as is a marked file without a backup; a
file without a marker is left alone. After an undo, the older release's profile files that
carry a marker are removed. Every write is the same durable replacement as the patch's.
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


LEGACY_PROFILES = ("vrcompositor_bindings_lighthouse_hmd.json", "lighthouse_hmd_profile.json")


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


def on_disk(doc):
    return json.dumps(doc, indent=4, ensure_ascii=False, sort_keys=True).encode("utf-8")


def patched_form(doc):
    """The patched document, or None for JSON the patch refuses."""
    if doc is None:
        doc = {}
    if not isinstance(doc, dict):
        return None
    if not isinstance(doc.get("bindings"), dict):
        doc["bindings"] = {}
    doc["bindings"].update(injected_action_sets())
    doc.pop(LEGACY_MARKER, None)
    doc[MARKER] = True
    return doc


def is_marked(doc):
    return isinstance(doc, dict) and (doc.get(MARKER) is True or doc.get(LEGACY_MARKER) is True)


def patch(directory):
    path, original, doc = read_document(directory)
    if isinstance(doc, dict) and doc.get(MARKER) is True:
        return 0
    doc = patched_form(doc)
    if doc is None:
        return 1
    keep_backup(path, original)
    replace_durably(path, on_disk(doc))
    return 0


def injected_values(doc):
    """The values a document holds at the names the patch sets, before a patch replaces them."""
    bindings = doc.get("bindings") if isinstance(doc, dict) else None
    if not isinstance(bindings, dict):
        return {}
    return {name: bindings[name] for name in injected_action_sets() if name in bindings}


def undo_in_place(path, doc, kept):
    bindings = doc.get("bindings")
    if isinstance(bindings, dict):
        for name in injected_action_sets():
            if name in kept:
                bindings[name] = kept[name]
            else:
                bindings.pop(name, None)
    doc.pop(MARKER, None)
    doc.pop(LEGACY_MARKER, None)
    replace_durably(path, on_disk(doc))


def remove_legacy_profiles(directory):
    for name in LEGACY_PROFILES:
        path = os.path.join(directory, name)
        try:
            with open(path, "rb") as f:
                marked = is_marked(json.loads(f.read()))
        except (OSError, ValueError):
            continue
        if marked:
            os.unlink(path)


def unpatch(directory):
    path = os.path.join(directory, BINDINGS_FILE)
    if not os.path.lexists(path):
        return 0
    backup = path + BACKUP_SUFFIX
    with open(path, "rb") as f:
        current = f.read()
    kept = {}
    if os.path.lexists(backup):
        with open(backup, "rb") as f:
            backup_bytes = f.read()
        if current == backup_bytes:
            replace_durably(path, backup_bytes)
            remove_legacy_profiles(directory)
            return 0
        original = json.loads(backup_bytes)
        kept = injected_values(original)
        patched = patched_form(original)
        if patched is not None and on_disk(patched) == current:
            replace_durably(path, backup_bytes)
            remove_legacy_profiles(directory)
            return 0
    doc = json.loads(current)
    if not is_marked(doc):
        return 0
    undo_in_place(path, doc, kept)
    remove_legacy_profiles(directory)
    return 0


def status(directory):
    _, _, doc = read_document(directory)
    patched = isinstance(doc, dict) and doc.get(MARKER) is True
    print("bindings file: " + ("patched" if patched else "not patched"))
    return 0


def main(argv):
    if len(argv) != 3 or argv[1] not in ("patch", "unpatch", "status"):
        sys.exit(__doc__)
    directory = argv[2]
    if argv[1] == "status":
        return status(directory)
    lock = os.open(directory, os.O_RDONLY | os.O_DIRECTORY)
    fcntl.flock(lock, fcntl.LOCK_EX)
    return patch(directory) if argv[1] == "patch" else unpatch(directory)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
