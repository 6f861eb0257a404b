#!/usr/bin/env python3
"""Crash-safety suite for the bindings patcher.

For every operation it first lists the file-system calls the operation makes in its
workspace (under strace). Then, each time on a fresh copy of the starting state, it runs the
operation again once per listed call with that one call failing (strace inject=...:error=), and
once per call with the process killed as it makes that call (inject=...:signal=SIGKILL). After
each run it checks what is on disk and what was reported, and that a following normal run
reaches exactly the state of a run that never failed. The trace of the undisturbed run must show
each file flushed before it is renamed into place and its directory flushed before the next
rename, and every entry it creates and keeps flushed in its directory; an interrupted call must
be made again, a failed flush after a rename warned of, a failed flush of the backup must stop
the patch, and a directory that cannot be flushed (EINVAL) is no failure at all. A note kept
with a backup (of what the patch wrote) must tell the truth of that backup whatever failed.
Finally it runs the operations as an unprivileged user against a read-only directory and a
read-only file.

Usage: fault_suite.py --runner PATH [--only errors|kills|permissions] [--scenario NAME]
Exit status: 0 when no violation was found, 1 otherwise, 77 when strace is missing.
"""

import argparse
import dataclasses
import errno
import grp
import json
import os
import pwd
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

BINDINGS = "vrcompositor_bindings_generic_hmd.json"
BACKUP = BINDINGS + ".vexlor_backup"
# The next generation of the backup, made when the runtime rewrote the file since the last one.
BACKUP_2 = BACKUP + ".2"
# The file's bytes, kept before an undo in place replaces edits inside the injected sets.
BEFORE_UNDO = BINDINGS + ".vexlor_before_undo"
TEMP_SUFFIX = ".vexlor_tmp"
# Stands beside the bindings file while an unpatch owes a legacy cleanup: a failure or a crash
# may leave it, the next run must take it away.
CLEANUP_NOTE = BINDINGS + ".vexlor_cleanup"
# The note a patch keeps with each backup it makes, of what it wrote over that original.
NOTE_ATTRIBUTE = "user.vexlor.note"
LEGACY_BINDINGS = "vrcompositor_bindings_lighthouse_hmd.json"
LEGACY_PROFILE = "lighthouse_hmd_profile.json"
ATOMIC_TARGET = "atomic_target.json"
INJECTED_SETS = ("/actions/lasermouse", "/actions/lasermouse_secondary", "/actions/system")
SKIP = 77

# What each call can plausibly fail with. EINTR goes only to calls that can really be
# interrupted on a local file system; the library is expected to retry those.
ERRNOS = {
    "openat": ("EACCES", "EIO", "EINTR"),
    "open": ("EACCES", "EIO", "EINTR"),
    "read": ("EIO", "EINTR"),
    "write": ("EIO", "ENOSPC", "EINTR"),
    "fsync": ("EIO", "ENOSPC"),
    "fdatasync": ("EIO", "ENOSPC"),
    "close": ("EIO", "EINTR"),
    "rename": ("EACCES", "EIO"),
    "renameat": ("EACCES", "EIO"),
    "renameat2": ("EACCES", "EIO"),
    "link": ("EACCES", "EIO"),
    "linkat": ("EACCES", "EIO"),
    "unlink": ("EACCES", "EIO"),
    "unlinkat": ("EACCES", "EIO"),
    "newfstatat": ("EACCES", "EIO"),
    "statx": ("EACCES", "EIO"),
    "stat": ("EACCES", "EIO"),
    "lstat": ("EACCES", "EIO"),
    "fstat": ("EIO",),
    "fchmod": ("EPERM", "EIO"),
    "fchown": ("EPERM", "EIO"),
    "listxattr": ("EACCES", "EIO"),
    "getxattr": ("EIO",),
    "fgetxattr": ("EIO",),
    "fsetxattr": ("EPERM", "EIO", "ENOSPC"),
    "fremovexattr": ("EPERM", "EIO"),
    "faccessat": ("EACCES", "EIO"),
    "faccessat2": ("EACCES", "EIO"),
    "access": ("EACCES", "EIO"),
}
DEFAULT_ERRNOS = ("EIO",)

# ---------------------------------------------------------------------------------------------
# Documents. The on-disk form the library writes is JSON with four-space indentation, sorted
# keys, raw UTF-8 and no final newline; for the plain ASCII documents used here Python's
# json.dumps produces exactly the same bytes, which gives an independent expectation.


def on_disk(document):
    return json.dumps(document, indent=4, sort_keys=True, ensure_ascii=False).encode()


# The compositor's own file as it might be found: not in the library's form (two-space
# indentation, unsorted keys, a final newline), so that a restore and a rewrite differ.
ORIGINAL = (
    b'{\n  "jsonid": "input_profile",\n  "controller_type": "generic_hmd",\n'
    b'  "bindings": {\n    "/actions/main": {\n      "sources": [\n'
    b'        {"path": "/user/head/proximity", "mode": "button",\n'
    b'         "inputs": {"click": {"output": "/actions/main/in/headset_onoff"}}}\n'
    b"      ]\n    }\n  },\n"
    b'  "description": "default bindings"\n}\n'
)
LEGACY_V2 = b'{"vexlor_patched_v2": true, "controller_type": "lighthouse_hmd"}'
LEGACY_V1 = b'{"vexlor_patched_v1": true, "bindings": {}}'
OLD_TARGET = b'{"old": "content"}'
# What the runner's atomic-write operation writes.
ATOMIC_DOCUMENT = {"hello": "world", "n": 42, "nested": {"empty": {}, "list": [1, 2, 3]}}


def patched(document, injected):
    result = json.loads(json.dumps(document))
    result.setdefault("bindings", {}).update(injected)
    result.pop("vexlor_patched_v1", None)
    result["vexlor_patched_v2"] = True
    return result


def erased(document):
    result = json.loads(json.dumps(document))
    bindings = result.get("bindings")
    if isinstance(bindings, dict):
        for name in INJECTED_SETS:
            bindings.pop(name, None)
    result.pop("vexlor_patched_v1", None)
    result.pop("vexlor_patched_v2", None)
    return result


@dataclasses.dataclass
class Scenario:
    name: str
    operation: str  # patch, unpatch, cleanup, atomic-write
    start: dict  # file name -> bytes
    expected: dict  # file name -> bytes after a run that never failed
    watched: str  # the file the operation exists to change
    legacy: tuple = ()  # legacy profile files the run should remove
    restores: bool = False  # an unpatch that copies a backup back, rather than undoing in place
    base_inject: tuple = ()  # strace -e inject options applied to every run
    # Who may use the watched file, besides its mode: given to it at the start; the file and its
    # backup must have them whenever the run or the next one has written them.
    access: bool = False
    notes: dict = dataclasses.field(default_factory=dict)  # file name -> its note at the start

    def always_failing(self):
        return {inject.split(":")[0] for inject in self.base_inject}

    def argument(self, workspace):
        if self.operation == "atomic-write":
            return os.path.join(workspace, ATOMIC_TARGET)
        return workspace


def injected_bindings(runner, root):
    """The action sets the patch adds, taken from one clean run and checked by shape."""
    workspace = fresh_workspace(root, {BINDINGS: ORIGINAL})
    result = run(runner, "patch", workspace)
    if result.status != 0:
        raise SystemExit("a clean patch of the fixture failed:\n" + result.err)
    document = json.loads(read(os.path.join(workspace, BINDINGS)))
    injected = {name: document["bindings"][name] for name in INJECTED_SETS}
    for name, value in injected.items():
        if not isinstance(value, dict) or not value:
            raise SystemExit("the patch injected no content for " + name)
    return injected


# A group the workspace's files are not created with, an ACL entry and a plain attribute.
ACCESS_GROUP = "users"
ACL_ATTRIBUTE = "system.posix_acl_access"
USER_ATTRIBUTE = ("user.origin", b"kept")


def give_access_rules(path):
    os.chmod(path, 0o640)
    shutil.chown(path, group=ACCESS_GROUP)
    subprocess.run(["setfacl", "-m", "u:nobody:r", path], check=True, timeout=10)
    os.setxattr(path, *USER_ATTRIBUTE)


def access_rules(path):
    st = os.stat(path)
    return (st.st_gid, st.st_mode & 0o7777, os.getxattr(path, ACL_ATTRIBUTE))


def scenario_workspace(root, scenario):
    workspace = fresh_workspace(root, scenario.start)
    if scenario.access:
        give_access_rules(os.path.join(workspace, scenario.watched))
    for name, note in scenario.notes.items():
        os.setxattr(os.path.join(workspace, name), NOTE_ATTRIBUTE, note.encode())
    return workspace


class NoteTruth:
    """What the note kept with a backup must say: the length and hash of the patch made of that
    very backup (computed here, hashed by the runner), and whether the backup carried a marker.
    A wrong note would restore a backup over a file someone changed."""

    def __init__(self, runner, root, injected):
        self.runner, self.root, self.injected, self.known = runner, root, injected, {}

    def of(self, backup):
        if backup not in self.known:
            document = json.loads(backup)
            carries = any(document.get(m) is True for m in ("vexlor_patched_v2", "vexlor_patched_v1"))
            model = os.path.join(self.root, "patch-of-backup")
            with open(model, "wb") as f:
                f.write(on_disk(patched(document, self.injected)))
            hashed = subprocess.run([self.runner, "hash", model], capture_output=True, text=True,
                                    timeout=30, check=True).stdout.strip()
            self.known[backup] = "vexlor_patched_v2 %d %s %d\n" % (len(backup), hashed, carries)
        return self.known[backup]

    def problems(self, workspace, files, made=()):
        """Every note there tells the truth of its backup; each backup in `made` has one."""
        problems = []
        for name, data in files.items():
            if data is None or name in temp_files(files):
                continue
            try:
                note = os.getxattr(os.path.join(workspace, name), NOTE_ATTRIBUTE).decode()
            except OSError:
                if name in made:
                    problems.append("%s was made without its note" % name)
                continue
            if name not in (BACKUP, BACKUP_2):
                problems.append("%s, no backup, carries a note" % name)
            elif note != self.of(data):
                problems.append("%s carries the note %r, not %r" % (name, note, self.of(data)))
        return problems


def made_files(scenario):
    """The files a run writes that must carry the watched file's access rules."""
    if not scenario.access:
        return ()
    return (scenario.watched,) + (() if BACKUP in scenario.start else (BACKUP,))


def access_problems(scenario, workspace):
    """The watched file and the backup are read by whom the original was read, never more."""
    if not scenario.access:
        return []
    reference = os.path.join(os.path.dirname(workspace), "reference")
    with open(reference, "wb"):
        pass
    give_access_rules(reference)
    expected = access_rules(reference)
    problems = []
    for name in made_files(scenario):
        path = os.path.join(workspace, name)
        if os.path.exists(path) and access_rules(path) != expected:
            problems.append("%s has access %r, not %r" % (name, access_rules(path), expected))
    return problems


def scenarios(injected, truth):
    original = json.loads(ORIGINAL)
    patched_bytes = on_disk(patched(original, injected))
    lost_marker = erased(patched(original, injected))
    lost_marker["description"] = "rewritten by the compositor"
    lost_marker["bindings"]["/actions/lasermouse"] = {"sources": []}
    lost_marker_bytes = json.dumps(lost_marker, indent=2).encode()
    legacy = {LEGACY_BINDINGS: LEGACY_V2, LEGACY_PROFILE: LEGACY_V1}
    # Patched, then the runtime rewrote it (the new original, in BACKUP_2) and it was patched
    # again.
    new_original = json.dumps(dict(original, description="updated by the runtime")).encode()
    # Patched, then someone added a source of their own to an injected set.
    edited = json.loads(json.dumps(patched(original, injected)))  # not sharing `injected`
    edited["bindings"]["/actions/system"]["sources"].append({"path": "/user/head/mine"})
    edited_bytes = json.dumps(edited, indent=2).encode()
    # The older release's patched file, taken for the original and patched once more.
    by_older_release = dict(original, vexlor_patched_v1=True)
    by_older_release_bytes = json.dumps(by_older_release).encode()
    marker_lost = patched(original, injected)
    del marker_lost["vexlor_patched_v2"]
    return [
        Scenario("first patch", "patch", {BINDINGS: ORIGINAL},
                 {BINDINGS: patched_bytes, BACKUP: ORIGINAL}, BINDINGS),
        # Kernels or file systems without renameat2 take the link-and-unlink path.
        Scenario("first patch without renameat2", "patch", {BINDINGS: ORIGINAL},
                 {BINDINGS: patched_bytes, BACKUP: ORIGINAL}, BINDINGS,
                 base_inject=("renameat2:error=ENOSYS",)),
        Scenario("re-patch with existing backup", "patch",
                 {BINDINGS: lost_marker_bytes, BACKUP: ORIGINAL},
                 {BINDINGS: on_disk(patched(lost_marker, injected)), BACKUP: ORIGINAL,
                  BACKUP_2: lost_marker_bytes}, BINDINGS),
        Scenario("patch puts a lost marker back", "patch", {BINDINGS: json.dumps(marker_lost).encode()},
                 {BINDINGS: patched_bytes}, BINDINGS),
        Scenario("already patched", "patch", {BINDINGS: patched_bytes, BACKUP: ORIGINAL},
                 {BINDINGS: patched_bytes, BACKUP: ORIGINAL}, BINDINGS),
        Scenario("unpatch by restore", "unpatch",
                 {BINDINGS: patched_bytes, BACKUP: ORIGINAL, **legacy},
                 {BINDINGS: ORIGINAL, BACKUP: ORIGINAL}, BINDINGS, legacy=tuple(legacy),
                 restores=True),
        Scenario("unpatch by restore, told by the backup's note", "unpatch",
                 {BINDINGS: patched_bytes, BACKUP: ORIGINAL},
                 {BINDINGS: ORIGINAL, BACKUP: ORIGINAL}, BINDINGS, restores=True,
                 notes={BACKUP: truth.of(ORIGINAL)}),
        Scenario("unpatch from the newest backup", "unpatch",
                 {BINDINGS: on_disk(patched(json.loads(new_original), injected)), BACKUP: ORIGINAL,
                  BACKUP_2: new_original},
                 {BINDINGS: new_original, BACKUP: ORIGINAL, BACKUP_2: new_original}, BINDINGS,
                 restores=True),
        Scenario("unpatch of a backup patched by the older release", "unpatch",
                 {BINDINGS: on_disk(patched(by_older_release, injected)),
                  BACKUP: by_older_release_bytes},
                 {BINDINGS: on_disk(erased(by_older_release)), BACKUP: by_older_release_bytes},
                 BINDINGS, restores=True),
        Scenario("unpatch keeps a copy before undoing edits", "unpatch",
                 {BINDINGS: edited_bytes, BACKUP: ORIGINAL},
                 {BINDINGS: ORIGINAL, BACKUP: ORIGINAL, BEFORE_UNDO: edited_bytes},
                 BINDINGS),
        Scenario("unpatch by erase", "unpatch", {BINDINGS: patched_bytes, **legacy},
                 {BINDINGS: on_disk(original)}, BINDINGS, legacy=tuple(legacy)),
        Scenario("first patch keeping group, ACL and attributes", "patch", {BINDINGS: ORIGINAL},
                 {BINDINGS: patched_bytes, BACKUP: ORIGINAL}, BINDINGS, access=True),
        Scenario("restore keeping group, ACL and attributes", "unpatch",
                 {BINDINGS: patched_bytes, BACKUP: ORIGINAL},
                 {BINDINGS: ORIGINAL, BACKUP: ORIGINAL}, BINDINGS, access=True, restores=True),
        Scenario("legacy cleanup", "cleanup", {BINDINGS: ORIGINAL, **legacy},
                 {BINDINGS: ORIGINAL}, BINDINGS, legacy=tuple(legacy)),
        Scenario("AtomicWriteJson over existing target", "atomic-write",
                 {ATOMIC_TARGET: OLD_TARGET}, {ATOMIC_TARGET: on_disk(ATOMIC_DOCUMENT)},
                 ATOMIC_TARGET),
    ]


# ---------------------------------------------------------------------------------------------
# Running the operation.


@dataclasses.dataclass
class Run:
    status: int  # exit status, or minus the signal number
    out: str
    err: str
    trace: list  # strace's lines, empty when not traced


def read(path):
    with open(path, "rb") as f:
        return f.read()


def fresh_workspace(root, files):
    workspace = os.path.join(root, "ws")
    if os.path.lexists(workspace):
        os.chmod(workspace, 0o755)
        shutil.rmtree(workspace)
    os.mkdir(workspace)
    for name, data in files.items():
        with open(os.path.join(workspace, name), "wb") as f:
            f.write(data)
    return workspace


def run(runner, operation, argument, injects=(), trace_file=None, user=None):
    command = [runner, operation, argument]
    if trace_file:
        options = ["strace", "-f", "-qq", "-y", "-e", "trace=%file,%desc", "-o", trace_file]
        for inject in injects:
            options += ["-e", "inject=" + inject]
        command = options + command
    if user:
        command = ["setpriv", "--reuid=" + user[0], "--regid=" + user[1], "--clear-groups"] + command
    done = subprocess.run(command, cwd="/", capture_output=True, timeout=60)
    trace = []
    if trace_file:
        with open(trace_file, encoding="utf-8", errors="replace") as f:
            trace = f.read().splitlines()
    return Run(done.returncode, done.stdout.decode(errors="replace"),
               done.stderr.decode(errors="replace"), trace)


CALL = re.compile(r"^(?:\d+\s+)?([a-z_0-9]+)\((.*)$")
STANDARD_STREAM = re.compile(r"^[012]<")


@dataclasses.dataclass
class Call:
    name: str
    occurrence: int  # counted from the start of the process, as strace's when= counts
    text: str  # the call with its arguments, the workspace path replaced by WS

    def __str__(self):
        return "%s #%d (%s)" % (self.name, self.occurrence, self.text.split(" ", 1)[1])


FILE_ARGUMENT = re.compile(r'(\d+<WS[^>]*>|"WS[^"]*")')


def call_text(arguments, workspace):
    """The call's descriptors and paths: what identifies it, and what stays the same when the
    call fails (its output arguments do not)."""
    text = arguments.rsplit(" = ", 1)[0].replace(workspace, "WS")
    return ", ".join(FILE_ARGUMENT.findall(text))


def workspace_calls(trace, workspace):
    """The calls that touched the workspace, in order. The loader's start-up calls and the
    runner's own writes to its standard streams do not."""
    counts = {}
    calls = []
    for line in trace:
        match = CALL.match(line)
        if not match:
            continue
        name, arguments = match.groups()
        counts[name] = counts.get(name, 0) + 1
        if name.startswith("exec") or STANDARD_STREAM.match(arguments):
            continue
        if workspace in arguments:
            calls.append(Call(name, counts[name], name + " " + call_text(arguments, workspace)))
    return calls


def injected_call(trace, workspace, scenario):
    hits = [line for line in trace if line.endswith("(INJECTED)")
            and CALL.match(line).group(1) not in scenario.always_failing()]
    if len(hits) != 1:
        return None
    name, arguments = CALL.match(hits[0]).groups()
    return name + " " + call_text(arguments, workspace)


def killed_call(trace, workspace):
    if not trace or "killed by SIGKILL" not in trace[-1]:
        return None
    for line in reversed(trace[:-1]):
        match = CALL.match(line)
        if match:
            return match.group(1) + " " + call_text(match.group(2), workspace)
    return None


# ---------------------------------------------------------------------------------------------
# Checking what a run left behind.


def snapshot(workspace):
    files = {}
    for name in os.listdir(workspace):
        path = os.path.join(workspace, name)
        files[name] = read(path) if os.path.isfile(path) and not os.path.islink(path) else None
    return files


def temp_files(files):
    return sorted(name for name in files if name.endswith(TEMP_SUFFIX) or name == CLEANUP_NOTE)


def file_invariants(scenario, files):
    """Every file holds its bytes from before or exactly its final bytes; nothing else."""
    problems = []
    for name, data in files.items():
        if name in temp_files(files):
            continue
        allowed = [v for v in (scenario.start.get(name), scenario.expected.get(name))
                   if v is not None]
        if not allowed:
            problems.append("unexpected file %s" % name)
        elif data not in allowed:
            problems.append("%s holds neither its old bytes nor its final bytes" % name)
    for name in set(scenario.start) | set(scenario.expected):
        if name not in files and name in scenario.start and name in scenario.expected:
            problems.append("%s is gone" % name)
    return problems


def log_messages(err):
    return [line for line in err.splitlines() if line.startswith("Vexlor[")]


def names_in_log(messages, workspace, name):
    path = os.path.join(workspace, name)
    return [m for m in messages if path in m]


def result_invariants(scenario, result, files, workspace):
    """What a true or false result promises about the disk and the log."""
    problems = []
    messages = log_messages(result.err)
    if result.status not in (0, 1):
        return ["crashed (status %d)\n%s" % (result.status, result.err[-2000:])]
    if result.out != ("true\n" if result.status == 0 else "false\n"):
        problems.append("printed %r with status %d" % (result.out, result.status))
    if result.status == 1:
        if not messages:
            problems.append("false without a logged message")
        for name, data in scenario.start.items():
            if files.get(name) != data and name != BACKUP:
                problems.append("false, yet %s changed" % name)
        return problems
    watched = files.get(scenario.watched)
    if scenario.watched in scenario.expected and watched != scenario.expected[scenario.watched]:
        problems.append("true, yet %s does not hold its final bytes" % scenario.watched)
    if BACKUP in scenario.expected and BACKUP not in files:
        problems.append("true, yet no backup")
    undone = scenario.operation == "cleanup" or files.get(BINDINGS) == scenario.expected.get(BINDINGS)
    for name in scenario.legacy if undone else ():
        told = names_in_log(messages, workspace, name)
        removed = [m for m in told if "removed " in m and "failed" not in m]
        if name in files and (not told or removed):
            problems.append("legacy file %s stayed without a reason logged" % name)
        if name not in files and not removed:
            problems.append("legacy file %s vanished without being reported" % name)
    return problems


def completion_problems(scenario, runner, workspace):
    """A normal run after the failure completes and ends exactly where an undisturbed run ends."""
    expected = scenario.expected
    again = run(runner, scenario.operation, scenario.argument(workspace))
    files = snapshot(workspace)
    problems = []
    if again.status != 0:
        problems.append("the next normal run gave status %d:\n%s" % (again.status, again.err))
    if temp_files(files):
        problems.append("temporary file left after the next run: %s" % temp_files(files))
    problems += access_problems(scenario, workspace)
    for name in sorted(set(files) | set(expected)):
        if name in temp_files(files):
            continue
        if files.get(name) != expected.get(name):
            state = "missing" if name not in files else "unexpected" if name not in expected else "wrong bytes"
            problems.append("after the next run %s: %s" % (name, state))
    return problems


# ---------------------------------------------------------------------------------------------
# What the trace of a run shows about its order: each replacement made durable before the next
# one, interrupted calls made again, and a failed flush after a rename reported.

QUOTED = re.compile(r'"((?:[^"\\]|\\.)*)"')
DESCRIPTOR = re.compile(r"^\d+<(.*?)>[,)]")
MOVES = ("rename", "renameat", "renameat2", "link", "linkat")
FLUSHES = ("fsync", "fdatasync")
OPENED = re.compile(r"= \d+<(.*)>$")  # the path of the descriptor an open returned


def traced_calls(trace):
    """(name, arguments, the descriptor's path or None, succeeded) for each call, in order."""
    for line in trace:
        match = CALL.match(line)
        if match:
            name, arguments = match.groups()
            descriptor = DESCRIPTOR.match(arguments)
            yield (name, arguments, descriptor.group(1) if descriptor else None,
                   arguments.rstrip().endswith(" = 0"))


def durability_problems(trace, workspace):
    """A file is renamed or linked into place only once its last write is flushed, and the
    directory of its new name is flushed before the next move and before the run ends; so the
    backup is on storage before the bindings file is replaced. Every entry the run creates and
    leaves (the cleanup note, a backup made by a move) has its directory flushed before the run
    ends, or a crash just after a reported success could take it away; one that is not a
    temporary file, before the next move too, since that move may rely on it."""
    problems = []
    flushed = {}  # path -> whether its last write has been flushed
    unflushed_move = None  # the last move's new name, while its directory is not flushed
    new_entries = set()  # entries created or moved in, whose directory is not flushed since
    for name, arguments, path, succeeded in traced_calls(trace):
        if name.startswith(("write", "pwrite")) and path:
            flushed[path] = False
        elif name in FLUSHES and succeeded and path:
            flushed[path] = True
            if unflushed_move and path == os.path.dirname(unflushed_move):
                unflushed_move = None
            new_entries = {entry for entry in new_entries if os.path.dirname(entry) != path}
        elif name in MOVES and succeeded:
            source, target = QUOTED.findall(arguments)[:2]
            if unflushed_move:
                problems.append("%s moved before the directory of %s was flushed" % (target, unflushed_move))
            for entry in sorted(new_entries - {source, unflushed_move}):
                if not entry.endswith(TEMP_SUFFIX):
                    problems.append("%s moved before the directory of the new entry %s was flushed"
                                    % (target, entry))
            if not flushed.get(source):
                problems.append("%s moved to %s before its last write was flushed" % (source, target))
            unflushed_move = target
            if not name.startswith("link"):
                new_entries.discard(source)
            new_entries.add(target)
        elif name in ("open", "openat") and "O_CREAT" in arguments and OPENED.search(arguments):
            new_entries.add(OPENED.search(arguments).group(1))
        elif name in ("unlink", "unlinkat") and succeeded:
            new_entries.discard(QUOTED.findall(arguments)[0])
    if unflushed_move:
        problems.append("the directory of %s was never flushed after the move" % unflushed_move)
    for entry in sorted(new_entries):
        if entry != unflushed_move:
            problems.append("the directory of the new entry %s was never flushed" % entry)
    return [problem.replace(workspace, "WS") for problem in problems]


def retry_problems(scenario, errno_name, result, workspace):
    """An interrupted call is made again at once and the operation succeeds. A close is not
    repeated: Linux has released the descriptor already."""
    if errno_name != "EINTR":
        return []
    problems = [] if result.status == 0 else ["interrupted once, yet status %d" % result.status]
    calls = [(name, call_text(arguments, workspace), arguments.endswith("(INJECTED)"))
             for name, arguments, _, _ in traced_calls(result.trace)
             if name not in scenario.always_failing()]
    for at, (name, text, injected) in enumerate(calls):
        if injected and name != "close" and calls[at + 1:at + 2] != [(name, text, False)]:
            problems.append("the interrupted call was not made again at once, but %s" %
                            calls[at + 1:at + 2])
    return problems


def late_backup_problems(runner, root):
    """Without renameat2 the backup's no-replace move is a link, which must refuse to replace a
    backup that appeared after the patch found none: here the patch's check of the backup
    answers "not found" although one is in place, which must stay as it is."""
    start = {BINDINGS: ORIGINAL, BACKUP: OLD_TARGET}
    no_renameat2 = ("renameat2:error=ENOSYS",)
    trace_file = os.path.join(root, "trace")
    workspace = fresh_workspace(root, start)
    listed = run(runner, "patch", workspace, no_renameat2, trace_file)
    checks = [c for c in workspace_calls(listed.trace, workspace)
              if c.text.endswith('"WS/%s"' % BACKUP)]
    if not checks:
        return ["the patch never checked for the backup"]
    workspace = fresh_workspace(root, start)
    absent = "%s:error=ENOENT:when=%d" % (checks[0].name, checks[0].occurrence)
    result = run(runner, "patch", workspace, no_renameat2 + (absent,), trace_file)
    backup = os.path.join(workspace, BACKUP)
    problems = []
    if not any(name == "renameat2" and '"%s"' % backup in arguments and "(INJECTED)" in arguments
               for name, arguments, _, _ in traced_calls(result.trace)):
        problems.append("the patch did not try to move a backup into place:\n" + result.err)
    if snapshot(workspace).get(BACKUP) != OLD_TARGET:
        problems.append("the backup in place was replaced:\n" + result.err)
    return problems


def flush_warning_problems(scenario, errno_name, result):
    """A failed flush of the directory after a rename leaves the new file in place: the run
    succeeds and warns, as the restore from a backup or as every atomic write does. A failed
    flush of a kept copy (a backup, the copy before an undo) stops the run with the cause,
    before the file is replaced: the file is replaced only once what it held is on storage."""
    if errno_name == "EINVAL":
        return []  # a directory that cannot be flushed: see unflushable_directory_problems
    moved_to = None
    for name, arguments, path, succeeded in traced_calls(result.trace):
        if name in MOVES and succeeded:
            moved_to = QUOTED.findall(arguments)[1]
        elif name in FLUSHES and moved_to and path == os.path.dirname(moved_to):
            if arguments.endswith("(INJECTED)"):
                break
            moved_to = None
    else:
        return []
    cause = os.strerror(getattr(errno, errno_name))
    if os.path.basename(moved_to) in (BACKUP, BACKUP_2, BEFORE_UNDO):
        stopped = result.status == 1 and any(cause in m for m in log_messages(result.err))
        unchanged = read(os.path.join(os.path.dirname(moved_to), scenario.watched)) == \
            scenario.start[scenario.watched]
        if stopped and unchanged:
            return []
        return ["a kept copy's failed flush did not stop the run before the file changed:\n" +
                result.err]
    if scenario.restores:
        warning = "Vexlor[unpatch]: could not flush %s to storage: %s\n" % (moved_to, cause)
    else:
        warning = "Vexlor[patch]: wrote %s, but could not flush it to storage: %s\n" % (moved_to, cause)
    if result.status != 0 or warning not in result.err:
        return ["status %d without the warning %r:\n%s" % (result.status, warning, result.err)]
    return []


# ---------------------------------------------------------------------------------------------
# The three sweeps.


class Report:
    def __init__(self):
        self.violations = []
        self.figures = []

    def violation(self, where, problems):
        for problem in problems:
            self.violations.append("%s: %s" % (where, problem))
            print("VIOLATION %s: %s" % (where, problem), flush=True)


def list_calls(scenario, runner, root, report, truth):
    workspace = scenario_workspace(root, scenario)
    trace_file = os.path.join(root, "trace")
    result = run(runner, scenario.operation, scenario.argument(workspace),
                 scenario.base_inject, trace_file)
    if result.status != 0:
        raise SystemExit("%s: the undisturbed run failed:\n%s" % (scenario.name, result.err))
    files = snapshot(workspace)
    if files != scenario.expected:
        raise SystemExit("%s: the undisturbed run did not reach the expected state: %s" %
                         (scenario.name, sorted(files)))
    problems = durability_problems(result.trace, workspace)
    problems += access_problems(scenario, workspace)
    made = [n for n in (BACKUP, BACKUP_2) if n in files and n not in scenario.start]
    problems += truth.problems(workspace, files, made)
    problems += ["%s lost %s" % (name, USER_ATTRIBUTE[0]) for name in made_files(scenario)
                 if USER_ATTRIBUTE[0] not in os.listxattr(os.path.join(workspace, name))]
    report.violation(scenario.name + ", undisturbed run", problems)
    calls = [c for c in workspace_calls(result.trace, workspace)
             if c.name not in scenario.always_failing()]
    if not calls:
        raise SystemExit("%s: no workspace calls were traced" % scenario.name)
    return calls


def errnos_for(call):
    """A directory's flush may also answer EINVAL, on a file system that cannot flush one."""
    errnos = ERRNOS.get(call.name, DEFAULT_ERRNOS)
    if call.name in FLUSHES and re.fullmatch(r"\S+ \d+<WS>", call.text):
        errnos += ("EINVAL",)
    return errnos


def unflushable_directory_problems(scenario, errno_name, call, result, workspace):
    """Where directories cannot be flushed there is nothing more to do: the run is as good as
    an undisturbed one, with nothing to warn of."""
    if errno_name != "EINVAL" or call.name not in FLUSHES:
        return []
    files = snapshot(workspace)
    if result.status != 0 or os.strerror(errno.EINVAL) in result.err or files != scenario.expected:
        return ["an unflushable directory was taken for a failure (status %d):\n%s"
                % (result.status, result.err)]
    return []


def sweep_errors(scenario, calls, runner, root, report, truth):
    points = 0
    for call in calls:
        for errno_name in errnos_for(call):
            where = "%s, %s fails with %s" % (scenario.name, call, errno_name)
            workspace = scenario_workspace(root, scenario)
            inject = "%s:error=%s:when=%d" % (call.name, errno_name, call.occurrence)
            result = run(runner, scenario.operation, scenario.argument(workspace),
                         scenario.base_inject + (inject,), os.path.join(root, "trace"))
            hit = injected_call(result.trace, workspace, scenario)
            if hit != call.text:
                report.violation(where, ["the failure landed elsewhere: %s" % hit])
                continue
            points += 1
            files = snapshot(workspace)
            problems = file_invariants(scenario, files)
            problems += truth.problems(workspace, files)
            problems += result_invariants(scenario, result, files, workspace)
            problems += access_problems(scenario, workspace)
            removing_own = call.name.startswith("unlink") and (
                TEMP_SUFFIX in call.text or CLEANUP_NOTE in call.text)
            # While a legacy file of ours is left, or its removal is not yet flushed, the note
            # says a cleanup is still owed.
            owed = [name for name in scenario.legacy if name in files] or [
                m for m in log_messages(result.err) if "could not flush" in m]
            leftovers = [name for name in temp_files(files) if not (name == CLEANUP_NOTE and owed)]
            if leftovers and not removing_own:
                problems.append("temporary file left behind: %s" % leftovers)
            if "kept changing" in result.err:
                problems.append("the injected failure was blamed on another program")
            problems += retry_problems(scenario, errno_name, result, workspace)
            problems += flush_warning_problems(scenario, errno_name, result)
            problems += unflushable_directory_problems(scenario, errno_name, call, result,
                                                       workspace)
            problems += completion_problems(scenario, runner, workspace)
            report.violation(where, problems)
    return points


def sweep_kills(scenario, calls, runner, root, report, truth):
    points = 0
    for call in calls:
        where = "%s, killed at %s" % (scenario.name, call)
        workspace = scenario_workspace(root, scenario)
        inject = "%s:signal=SIGKILL:when=%d" % (call.name, call.occurrence)
        result = run(runner, scenario.operation, scenario.argument(workspace),
                     scenario.base_inject + (inject,), os.path.join(root, "trace"))
        hit = killed_call(result.trace, workspace)
        if result.status != -signal.SIGKILL or hit != call.text:
            report.violation(where, ["the kill landed elsewhere: %s (status %d)" % (hit, result.status)])
            continue
        points += 1
        files = snapshot(workspace)
        problems = file_invariants(scenario, files)
        problems += truth.problems(workspace, files)
        problems += access_problems(scenario, workspace)
        problems += completion_problems(scenario, runner, workspace)
        report.violation(where, problems)
    return points


# Permission failures, as an unprivileged user: (description, operation, starting files,
# how to lock the workspace).
def permission_cases(patched_bytes):
    def read_only_directory(workspace):
        os.chmod(workspace, 0o555)

    def read_only_file(workspace):
        os.chmod(os.path.join(workspace, BINDINGS), 0o444)

    cases = []
    for lock_name, lock in (("read-only directory", read_only_directory),
                            ("read-only file", read_only_file)):
        cases += [
            ("patch, %s" % lock_name, "patch", {BINDINGS: ORIGINAL}, lock),
            ("re-patch with backup, %s" % lock_name, "patch",
             {BINDINGS: ORIGINAL, BACKUP: ORIGINAL}, lock),
            ("unpatch by restore, %s" % lock_name, "unpatch",
             {BINDINGS: patched_bytes, BACKUP: ORIGINAL}, lock),
            ("unpatch by erase, %s" % lock_name, "unpatch", {BINDINGS: patched_bytes}, lock),
        ]
    return cases


def workspace_of_nobody(root, files, uid, gid):
    workspace = fresh_workspace(root, files)
    for name in os.listdir(workspace):
        os.chown(os.path.join(workspace, name), uid, gid)
    os.chown(workspace, uid, gid)
    return workspace


def sweep_permissions(runner, root, patched_bytes, report):
    """A read-only directory rules out every replacement. A read-only file in a writable
    directory could still be replaced by a rename, but its owner marked it as not to be
    changed, and on Windows the rename itself refuses; so the library refuses it too, before
    it writes anything, backup included. Either way: false, the system's reason, no change."""
    nobody = pwd.getpwnam("nobody")
    user = (nobody.pw_name, grp.getgrgid(nobody.pw_gid).gr_name)
    uid, gid = nobody.pw_uid, nobody.pw_gid
    # The build tree may lie where nobody cannot reach it; a copy beside the workspace is
    # always reachable.
    copy = os.path.join(root, "runner")
    shutil.copy(runner, copy)
    os.chmod(copy, 0o755)
    # The control: with nothing locked, nobody can patch, so a refusal below is the lock's.
    workspace = workspace_of_nobody(root, {BINDINGS: ORIGINAL}, uid, gid)
    control = run(copy, "patch", workspace, user=user)
    if control.status != 0 or read(os.path.join(workspace, BINDINGS)) != patched_bytes:
        report.violation("as nobody, patch, nothing locked", ["status %d:\n%s" % (control.status, control.err)])
    cases = 0
    for description, operation, files, lock in permission_cases(patched_bytes):
        workspace = workspace_of_nobody(root, files, uid, gid)
        lock(workspace)
        modes = {n: os.stat(os.path.join(workspace, n)).st_mode for n in os.listdir(workspace)}
        before = snapshot(workspace)
        result = run(copy, operation, workspace, user=user)
        problems = []
        if result.status != 1:
            problems.append("status %d, expected false:\n%s" % (result.status, result.err))
        if "Permission denied" not in result.err:
            problems.append("the system's reason is missing from the log:\n" + result.err)
        if snapshot(workspace) != before:
            problems.append("the files changed: %s -> %s" % (sorted(before), sorted(snapshot(workspace))))
        after = {n: os.stat(os.path.join(workspace, n)).st_mode for n in os.listdir(workspace)}
        if after != modes:
            problems.append("permissions changed")
        report.violation("as nobody, " + description, problems)
        print("  as nobody, %s: %s" % (description, " | ".join(log_messages(result.err))))
        cases += 1
        os.chmod(workspace, 0o755)
    return cases


# ---------------------------------------------------------------------------------------------


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runner", required=True, help="path of vexlor-fault-runner")
    parser.add_argument("--only", choices=("errors", "kills", "permissions"))
    parser.add_argument("--scenario", help="run only the scenario with this name")
    parser.add_argument("--skip", help="skip the whole suite, giving this reason")
    args = parser.parse_args()
    if args.skip:
        print("SKIPPED: " + args.skip)
        return SKIP
    if not shutil.which("strace"):
        print("SKIPPED: strace is not installed (scripts/setup.sh installs it)")
        return SKIP
    runner = os.path.abspath(args.runner)
    report = Report()
    started = time.monotonic()
    # Reachable by nobody for the permission cases, and for nobody else to write.
    root = tempfile.mkdtemp(prefix="vexlor_fault_")
    os.chmod(root, 0o755)
    try:
        injected = injected_bindings(runner, root)
        truth = NoteTruth(runner, root, injected)
        chosen = [s for s in scenarios(injected, truth)
                  if not args.scenario or s.name == args.scenario]
        print("%-40s %6s %10s %7s" % ("operation", "calls", "failures", "kills"))
        for scenario in chosen if args.only != "permissions" else ():
            calls = list_calls(scenario, runner, root, report, truth)
            failures = kills = 0
            if args.only in (None, "errors"):
                failures = sweep_errors(scenario, calls, runner, root, report, truth)
            if args.only in (None, "kills"):
                kills = sweep_kills(scenario, calls, runner, root, report, truth)
            print("%-40s %6d %10d %7d" % (scenario.name, len(calls), failures, kills), flush=True)
            report.figures.append((scenario.name, len(calls), failures, kills))
        if args.only in (None, "errors") and not args.scenario:
            report.violation("patch without renameat2, a backup found after its check",
                             late_backup_problems(runner, root))
        if args.only in (None, "permissions") and not args.scenario:
            if os.geteuid() != 0:
                print("permission cases SKIPPED: switching to nobody needs root")
            else:
                patched_bytes = on_disk(patched(json.loads(ORIGINAL), injected))
                cases = sweep_permissions(runner, root, patched_bytes, report)
                print("permission failures as nobody: %d cases" % cases)
    finally:
        shutil.rmtree(root, ignore_errors=True)
    total_failures = sum(f[2] for f in report.figures)
    total_kills = sum(f[3] for f in report.figures)
    print("total: %d injected failures, %d kill points, %d violations, %.0f s" %
          (total_failures, total_kills, len(report.violations), time.monotonic() - started))
    return 1 if report.violations else 0


if __name__ == "__main__":
    sys.exit(main())
