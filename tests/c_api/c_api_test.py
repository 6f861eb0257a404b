"""The shared library through ctypes, beside the C program and the tool:
    c_api_test.py LIBRARY C_PROGRAM TOOL LOCK_HOLDER
A round trip through ctypes; then three failures (a missing directory, a read-only file, a
directory another process holds) must give the same kind and the same words through ctypes,
the C program and the tool. Last, the library exports the C interface and nothing else."""
import ctypes
import json
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile

LIBRARY, C_PROGRAM, TOOL, LOCK_HOLDER = sys.argv[1:5]
HEADER = pathlib.Path(sys.argv[5]) if len(sys.argv) > 5 else \
    pathlib.Path(__file__).parents[2] / "patcher/include/vexlor/bindings_c.h"
BINDINGS = "vrcompositor_bindings_generic_hmd.json"
ORIGINAL = b'{"bindings": {}, "keep": 1}'

# Root writes where a read-only file forbids it: the checks run as nobody, from copies in a
# directory nobody may read, since the tree itself may sit where only root can.
if os.geteuid() == 0:
    with tempfile.TemporaryDirectory(prefix="vexlor_c_api_") as stage:
        os.chmod(stage, 0o755)
        staged = [shutil.copy2(path, stage)
                  for path in (__file__, LIBRARY, C_PROGRAM, TOOL, LOCK_HOLDER, HEADER)]
        # The C program finds the library by its soname.
        soname = re.search(rb"(libvexlor-bindings\.so\.\d+)", pathlib.Path(LIBRARY).read_bytes())
        shutil.copy2(LIBRARY, os.path.join(stage, soname.group(1).decode()))
        checks = subprocess.run(["/usr/bin/setpriv", "--reuid=nobody", "--regid=nogroup",
                                 "--clear-groups", sys.executable] + staged,
                                env=dict(os.environ, LD_LIBRARY_PATH=stage), timeout=50)
    sys.exit(checks.returncode)

lib = ctypes.CDLL(LIBRARY)
LOG = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_char_p)
for name in ("vexlor_bindings_patch", "vexlor_bindings_unpatch"):
    getattr(lib, name).argtypes = [ctypes.c_char_p, ctypes.c_uint, LOG, ctypes.c_void_p,
                                   ctypes.POINTER(ctypes.c_void_p)]
for name in ("vexlor_bindings_status_json", "vexlor_bindings_patch_plan_json"):
    getattr(lib, name).argtypes = [ctypes.c_char_p]
    getattr(lib, name).restype = ctypes.c_void_p
lib.vexlor_bindings_free.argtypes = [ctypes.c_void_p]
lib.vexlor_bindings_failure_word.restype = ctypes.c_char_p


def taken(pointer):
    """The library's string as a Python object, released with the library's own free."""
    text = ctypes.string_at(pointer).decode()
    lib.vexlor_bindings_free(pointer)
    return json.loads(text)


def run(operation, directory, messages=None):
    result = ctypes.c_void_p()
    log = LOG(lambda _, message: messages.append(message.decode())) if messages is not None \
        else LOG()
    kind = getattr(lib, "vexlor_bindings_" + operation)(str(directory).encode(), 0, log, None,
                                                        ctypes.byref(result))
    return kind, taken(result)


def tool_result(command, directory):
    tool = subprocess.run([TOOL, command, str(directory), "--json", "--quiet", "--wait", "0"],
                          capture_output=True, text=True, timeout=30)
    return json.loads(tool.stdout) | {"stderr": tool.stderr}


def round_trip(directory):
    file = directory / BINDINGS
    file.write_bytes(ORIGINAL)
    plan = taken(lib.vexlor_bindings_patch_plan_json(str(directory).encode()))
    assert plan["decision"] == "patch", plan
    messages = []
    kind, result = run("patch", directory, messages)
    assert (kind, result["outcome"]) == (0, "patched"), result
    assert result["files_written"] == [str(file) + ".vexlor_backup", str(file)], result
    assert messages and all(m.startswith("Vexlor[patch]: ") for m in messages), messages
    status = taken(lib.vexlor_bindings_status_json(str(directory).encode()))
    assert status["bindings_file"] == {"state": "patched", "marker": "vexlor_patched_v2"}
    assert tool_result("patch", directory)["outcome"] == "already_patched"
    kind, result = run("unpatch", directory)
    assert (kind, result["outcome"]) == (0, "restored"), result
    assert file.read_bytes() == ORIGINAL
    again = tool_result("unpatch", directory)
    assert again["succeeded"] and file.read_bytes() == ORIGINAL, again


def failing_directories(scratch):
    missing = scratch / "missing"
    read_only = scratch / "read-only"
    read_only.mkdir()
    (read_only / BINDINGS).write_bytes(ORIGINAL)
    (read_only / BINDINGS).chmod(0o444)
    held = scratch / "held"
    held.mkdir()
    (held / BINDINGS).write_bytes(ORIGINAL)
    return {"missing": missing, "read_only": read_only, "busy": held}


def same_failure_everywhere(word, directory, from_c_program):
    kind, result = run("patch", directory)
    printed = tool_result("patch", directory)
    closing = printed.pop("stderr").splitlines()[-1]
    assert lib.vexlor_bindings_failure_word(kind).decode() == word == printed["failure"], \
        (word, result, printed)
    assert result == printed, (result, printed)
    assert from_c_program[str(directory)] == (word, printed["message"]), from_c_program
    assert closing.endswith(printed["message"]), (closing, printed["message"])
    if directory.exists():
        assert sorted(os.listdir(directory)) == [BINDINGS], os.listdir(directory)
        assert (directory / BINDINGS).read_bytes() == ORIGINAL


def exports_only_the_c_interface():
    declared = set(re.findall(r"\b(vexlor_bindings_\w+)\(", HEADER.read_text()))
    declared = {name for name in declared if not name.endswith("_w")}
    nm = subprocess.run(["nm", "-D", "--defined-only", LIBRARY], capture_output=True, text=True,
                        check=True, timeout=30).stdout
    exported = {line.split()[-1].split("@")[0] for line in nm.splitlines()
                if line.split()[1] != "A"}
    assert exported == declared, (exported ^ declared)


with tempfile.TemporaryDirectory() as scratch_name:
    scratch = pathlib.Path(scratch_name)
    (scratch / "round-trip").mkdir()
    round_trip(scratch / "round-trip")
    failing = failing_directories(scratch)
    holder = subprocess.Popen([LOCK_HOLDER, str(failing["busy"]), "20000"],
                              stdout=subprocess.PIPE, text=True)
    try:
        assert holder.stdout.readline() == "holding\n"
        (scratch / "c-program").mkdir()
        c_program = subprocess.run([C_PROGRAM, str(scratch / "c-program")] +
                                   [str(d) for d in failing.values()],
                                   capture_output=True, text=True, timeout=30)
        assert c_program.returncode == 0, c_program.stderr
        from_c = {d: (w, m) for d, w, m in (line.split("\t") for line in
                                             c_program.stdout.splitlines())}
        for word, directory in failing.items():
            same_failure_everywhere(word, directory, from_c)
    finally:
        holder.kill()
        holder.wait()
exports_only_the_c_interface()
print("C interface: ctypes, the C program and the tool agree")
