#!/usr/bin/env python3
"""Times whole processes, as a user meets them: the tool against the plain-Python script with
the same guarantees (bench/python_patch.py), start-up included.

Usage: processes.py TOOL DOCUMENTS_DIR WORK_DIR OUTPUT_JSON SIZE=PAIRS ...

For each SIZE (DOCUMENTS_DIR/SIZE.json) and each command (a first patch, a patch of a file
already patched, the status, an unpatch that restores the backup, one that undoes the patch in
place beside a backup because the file changed since, one without a backup, and the two dry
runs, which only the tool has) the two programs run PAIRS times (at least five), one after the
other in alternating order, each on a directory of its own laid down and flushed beforehand.
Reported: the median time of each, the median of the per-pair ratios (Python / tool), and each
one's peak resident memory in one more run.
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
MINIMUM_PAIRS = 5
USER_CHANGE_KEY = "user_setting_after_patch"  # as the in-process benchmark's

# name: (the tool's arguments before the directory, after it, Python's command or None,
#        the start state: which documents lie at the bindings file and at the backup)
COMMANDS = {
    "patch_first": (["patch"], ["--quiet"], "patch", ("original", None)),
    "patch_already_patched": (["patch"], ["--quiet"], "patch", ("patched", None)),
    "status": (["status"], [], "status", ("patched", None)),
    "unpatch_restore": (["unpatch"], ["--quiet"], "unpatch", ("patched", "original")),
    "unpatch_undo": (["unpatch"], ["--quiet"], "unpatch", ("changed", "original")),
    "unpatch_erase": (["unpatch"], ["--quiet"], "unpatch", ("patched", None)),
    "dry_run_patch": (["patch", "--dry-run"], [], None, ("original", None)),
    "dry_run_unpatch": (["unpatch", "--dry-run"], [], None, ("patched", "original")),
}


def sync_directory(directory):
    fd = os.open(directory, os.O_RDONLY)
    try:
        os.fsync(fd)
    finally:
        os.close(fd)


def write_flushed(path, data):
    with open(path, "wb") as f:
        f.write(data)
        f.flush()
        os.fsync(f.fileno())


def lay_down(directory, bindings, backup=None):
    os.makedirs(directory, exist_ok=True)
    for name in os.listdir(directory):
        os.unlink(os.path.join(directory, name))
    write_flushed(os.path.join(directory, BINDINGS_FILE), bindings)
    if backup is not None:
        write_flushed(os.path.join(directory, BACKUP), backup)
    sync_directory(directory)


def lay_down_start(directory, command, documents, tool=None):
    """The command's start state. With `tool`, a backup is made as users have it, by the tool's
    own patch, with the note it keeps of what it wrote."""
    bindings, backup = COMMANDS[command][3]
    if not (backup and tool):
        lay_down(directory, documents[bindings], documents[backup] if backup else None)
        return
    lay_down(directory, documents[backup])
    run([tool, "patch", directory, "--quiet"])
    write_flushed(os.path.join(directory, BINDINGS_FILE), documents[bindings])
    sync_directory(directory)


def tool_argv(tool, command, directory):
    before, after = COMMANDS[command][:2]
    return [tool] + before + [directory] + after


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


def contest(command, documents, tool, work_dir, pairs):
    python_command = COMMANDS[command][2]
    dirs = {"tool": os.path.join(work_dir, "tool"), "python": os.path.join(work_dir, "python")}
    argv = {"tool": tool_argv(tool, command, dirs["tool"])}
    if python_command:
        argv["python"] = [sys.executable, PYTHON_SCRIPT, python_command, dirs["python"]]
    seconds = {who: [] for who in argv}
    ratios = []
    for i in range(max(pairs, MINIMUM_PAIRS)):
        order = sorted(argv, reverse=i % 2 == 1)
        for who in order:
            lay_down_start(dirs[who], command, documents, tool if who == "tool" else None)
        for who in order:
            seconds[who].append(run(argv[who]))
        if python_command:
            ratios.append(seconds["python"][-1] / seconds["tool"][-1])
    row = {"tool_seconds": statistics.median(seconds["tool"]), "pairs": len(seconds["tool"])}
    for who in argv:
        lay_down_start(dirs[who], command, documents, tool if who == "tool" else None)
        row[who + "_peak_rss"] = peak_resident_bytes(argv[who], work_dir)
    if python_command:
        expect_same_result(dirs, command)
        row["python_seconds"] = statistics.median(seconds["python"])
        row["python_over_tool"] = statistics.median(ratios)
    return row


def expect_same_result(dirs, command):
    """A Python program that left other bytes would not be doing the tool's job."""
    left = {}
    for who, directory in dirs.items():
        with open(os.path.join(directory, BINDINGS_FILE), "rb") as f:
            left[who] = f.read()
    if left["tool"] != left["python"]:
        sys.exit("processes.py: %s: the tool and the Python program left different files"
                 % command)


def patched_by_tool(tool, work_dir, original):
    directory = os.path.join(work_dir, "prepare")
    lay_down(directory, original)
    run([tool, "patch", directory, "--quiet"])
    with open(os.path.join(directory, BINDINGS_FILE), "rb") as f:
        return f.read()


def with_user_change(data):
    """The document changed by its user after the patch, in the tool's on-disk form."""
    document = json.loads(data)
    document[USER_CHANGE_KEY] = "kept by an undo in place"
    return json.dumps(document, indent=4, ensure_ascii=False, sort_keys=True).encode("utf-8")


def documents_of(tool, work_dir, documents_dir, size):
    with open(os.path.join(documents_dir, size + ".json"), "rb") as f:
        original = f.read()
    patched = patched_by_tool(tool, work_dir, original)
    return {"original": original, "patched": patched, "changed": with_user_change(patched)}


def main(argv):
    if len(argv) < 6:
        sys.exit(__doc__)
    tool, documents_dir, work_dir, output = argv[1:5]
    results = []
    for case in argv[5:]:
        size, pairs = case.split("=")
        documents = documents_of(tool, work_dir, documents_dir, size)
        for command in COMMANDS:
            row = contest(command, documents, tool, work_dir, int(pairs))
            row.update({"operation": command, "size": size,
                        "file_bytes": len(documents["original"])})
            results.append(row)
    with open(output, "w", encoding="utf-8") as f:
        json.dump({"work_dir": work_dir, "results": results}, f, indent=2)


if __name__ == "__main__":
    main(sys.argv)
