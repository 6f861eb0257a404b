// The six scenarios of the verification driver.
//
// A failed check prints its condition and its line in this file, and those lines are part of
// the driver's output that people and scripts compare against. Each check therefore stands
// on a fixed line, and the comments between the scenarios carry the layout: when editing
// this file, keep every CHECK on the line it has now.
//
// Every scenario starts from a fresh workspace (makeWorkspace), calls the library with
// noopLog and judges only by the results it returns and by the files it leaves behind.
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <system_error>

#include "frame.h"
#include "process_id.h"
#include "scenarios.h"

// Where the scenarios look: the names are the compositor's and the patcher's on-disk
// contract, spelled out here rather than taken from the library so that a renamed file
// shows up as a failed scenario.
namespace {

const char* const kBindingsFile = "vrcompositor_bindings_generic_hmd.json";
const char* const kBackupFile = "vrcompositor_bindings_generic_hmd.json.vexlor_backup";

}  // namespace

const vexlor::Logger noopLog = [](const char*) {};

fs::path makeWorkspace() {
    const unsigned long processId = CurrentProcessId();
    const std::string name = "vexlor_test_bindings_" + std::to_string(processId);
    const fs::path workspace = fs::temp_directory_path() / name;
    // A failure here shows up as failed checks in the scenario that needed the workspace.
    std::error_code ignored;
    fs::remove_all(workspace, ignored);
    fs::create_directories(workspace, ignored);
    return workspace;
}

json defaultGenericHmdBindings() {
    return json::object({{"bindings", json::object()},
                         {"controller_type", "generic_hmd"},
                         {"name", "default generic_hmd bindings"}});
}

void writeDefaultBindings(const fs::path& workspace) {
    std::ofstream out(workspace / "vrcompositor_bindings_generic_hmd.json",
                      std::ios::binary | std::ios::trunc);
    out << defaultGenericHmdBindings().dump(4, ' ', false);
}

std::string slurp(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream bytes;
    if (in) {
        bytes << in.rdbuf();
    }
    return bytes.str();
}

// Scenarios
// =========
// What the scenarios start from
//
// Every scenario but atomic_write_crash_safety writes the fixture file first. It is these
// 104 bytes, in five lines with LF line ends and no newline after the closing brace:
//
//     {
//         "bindings": {},
//         "controller_type": "generic_hmd",
//         "name": "default generic_hmd bindings"
//     }
//
// and the scenarios compare against them byte for byte wherever the library promises to
// give them back (the backup, a restore, an unpatch that finds nothing of ours).
//
// What they prove, in the order the driver runs them:
//
//   idempotency                a second patch succeeds and changes no byte; the marker is
//                              the boolean true
//   write_once_backup          the first patch saves the untouched bytes once; a later
//                              patch after a user's edit leaves that backup alone
//   unpatch_restore            with the backup present, unpatch gives back the original
//                              bytes and keeps the backup
//   unpatch_marker_erase       without a backup, unpatch erases the marker and the three
//                              injected action sets
//   unpatch_noop               a file that carries no marker is left byte for byte alone
//   atomic_write_crash_safety  a stale temporary file from an interrupted write neither
//                              makes the next write fail nor survives it
//
// None of them looks at the library's messages: they go to noopLog. A scenario that fails
// stops the run, so a FAIL line always names the first broken promise.
//
// The names inside the checks (tmp, target, backup, originalBytes, j, readBack) are part of
// the printed text of a failure, so they are kept as they are.
//
// Nothing here removes the workspace at the end: after a full run it still holds what the
// last scenario wrote, crashsafe_target.json, for anyone who wants to look.
//
// idempotency
//
// Patching twice is the same as patching once. The first call patches the fixture; the
// second finds the marker and must succeed without changing a single byte, and the
// document must carry the marker as the boolean true at its top level.
int idempotency() {
    const fs::path tmp = makeWorkspace();
    writeDefaultBindings(tmp);
    CHECK(PatchGenericHmdBindingsFile(tmp, noopLog));
    const fs::path target = tmp / kBindingsFile;
    const std::string after1 = slurp(target);
    // The second call must take the already-patched way.
    CHECK(PatchGenericHmdBindingsFile(tmp, noopLog));
    const std::string after2 = slurp(target);
    // Bytes, not parsed documents: a moved member, another indent or a newline added at the
    // end would all be a change the compositor sees.
    CHECK(after1 == after2);
    json j = json::parse(after2);
    // The marker must be the boolean true itself, not the string "true" and not the
    // number 1: only that counts as patched.
    CHECK(j.contains(kMarkerKey));
    CHECK(j[kMarkerKey].is_boolean());
    CHECK(j[kMarkerKey].get<bool>() == true);
    std::cout << "PASS idempotency\n";
    return 0;
}

// The backup is what makes an exact undo possible, so it must hold the bytes from
// before the very first patch, whatever happens to the file later.
//
// write_once_backup
//
// The first patch saves the untouched file beside it, and that backup is never written
// again, even after the user has edited the patched file so that it lost its marker and
// the next call patches it once more.
int writeOnceBackup() {
    // Patch, check the backup, edit, patch again, check the backup again.
    const fs::path tmp = makeWorkspace();
    writeDefaultBindings(tmp);
    const fs::path target = tmp / kBindingsFile;
    const fs::path backup = tmp / kBackupFile;
    const std::string originalBytes = slurp(target);
    CHECK(PatchGenericHmdBindingsFile(tmp, noopLog));
    CHECK(fs::exists(backup));
    const std::string backupAfterFirst = slurp(backup);
    CHECK(backupAfterFirst == originalBytes);

    // The backup now holds the fixture bytes. What follows stands for a person who opens
    // the patched file in an editor, or for the runtime rewriting it: either way the file
    // loses the marker, so the next patch has to patch it again rather than report it as
    // already patched, and it must do so without refreshing the backup from the edited
    // file. Written out, the edited document is the fixture plus "user_scribbled": "yes",
    // 133 bytes in six lines.
    //
    // The user's edit, made on the file directly and not through the library: the marker
    // goes, the bindings are emptied and a member of the user's own appears.
    json j = json::parse(slurp(target));
    j.erase(kMarkerKey);
    j["bindings"] = json::object();
    j["user_scribbled"] = "yes";
    {
        std::ofstream edited(target, std::ios::binary | std::ios::trunc);
        edited << j.dump(4, ' ', false);
    }
    CHECK(PatchGenericHmdBindingsFile(tmp, noopLog));
    const std::string backupAfterSecond = slurp(backup);
    CHECK(backupAfterSecond == originalBytes);
    std::cout << "PASS write_once_backup\n";
    return 0;
}

// Unpatch scenarios
// -----------------
//
// unpatch_restore
//
// With the backup in place, unpatching puts the untouched file back byte for byte and keeps
// the backup, unchanged, where it was.
int unpatchRestore() {
    const fs::path tmp = makeWorkspace();
    writeDefaultBindings(tmp);
    const fs::path target = tmp / kBindingsFile;
    const fs::path backup = tmp / kBackupFile;
    const std::string originalBytes = slurp(target);
    CHECK(PatchGenericHmdBindingsFile(tmp, noopLog));
    CHECK(fs::exists(backup));
    // Restoring copies: the backup must still be there afterwards.
    CHECK(UnpatchGenericHmdBindingsFile(tmp, noopLog));
    CHECK(slurp(target) == originalBytes);
    // A restore that moved the backup onto the file would pass the check above but not these.
    CHECK(fs::exists(backup));
    CHECK(slurp(backup) == originalBytes);
    std::cout << "PASS unpatch_restore\n";
    return 0;
}

// The erase way is the one that must never touch more than the patch added: the user
// may have put bindings of their own into the file since.
//
// unpatch_marker_erase
//
// Without a backup, unpatching erases what the patch added: the marker and the three
// injected action sets.
int unpatchMarkerErase() {
    const fs::path tmp = makeWorkspace();
    writeDefaultBindings(tmp);
    const fs::path target = tmp / kBindingsFile;
    const fs::path backup = tmp / kBackupFile;
    CHECK(PatchGenericHmdBindingsFile(tmp, noopLog));
    CHECK(fs::exists(backup));
    std::error_code ignored;
    fs::remove(backup, ignored);
    // Without the backup the unpatch has to take the erasing way.
    CHECK(!fs::exists(backup));
    // The check below is the whole call.
    CHECK(UnpatchGenericHmdBindingsFile(tmp, noopLog));
    json j = json::parse(slurp(target));
    // A document that is not an object carries no marker either.
    CHECK(!j.contains(kMarkerKey));
    if (j.contains("bindings") && j["bindings"].is_object()) {
        CHECK(!j["bindings"].contains("/actions/lasermouse"));
        CHECK(!j["bindings"].contains("/actions/lasermouse_secondary"));
        CHECK(!j["bindings"].contains("/actions/system"));
    }
    std::cout << "PASS unpatch_marker_erase\n";
    return 0;
}

// The unpatch of a file that is not ours must be harmless.
//
// unpatch_noop
//
// A file that was never patched is not the system's: unpatching succeeds and leaves it
// exactly as it was.
int unpatchNoop() {
    const fs::path tmp = makeWorkspace();
    writeDefaultBindings(tmp);
    const fs::path target = tmp / kBindingsFile;
    const std::string originalBytes = slurp(target);
    CHECK(UnpatchGenericHmdBindingsFile(tmp, noopLog));
    CHECK(slurp(target) == originalBytes);
    std::cout << "PASS unpatch_noop\n";
    return 0;
}

// Atomic-write scenario
// ----------------------
// atomic_write_crash_safety
//
// An earlier write of the same target was interrupted and left its temporary sibling
// behind. The next write must still succeed, leave the complete document in the target and
// no temporary file beside it.
int atomicWriteCrashSafety() {
    const fs::path tmp = makeWorkspace();
    const fs::path target = tmp / "crashsafe_target.json";
    fs::path staleTmp = target;
    staleTmp += ".vexlor_tmp";
    {
        std::ofstream stale(staleTmp, std::ios::binary | std::ios::trunc);
        stale << "STALE_TMP_CONTENTS";
    }
    CHECK(fs::exists(staleTmp));
    json j = json::object({{"hello", "world"}, {"n", 42}});
    // The stale file is not JSON; the write must reuse its name all the same.
    CHECK(AtomicWriteJson(target, j, noopLog));
    // The rename has turned the temporary file into the target.
    CHECK(fs::exists(target));
    CHECK(!fs::exists(staleTmp));
    json readBack = json::parse(slurp(target));
    // The document must read back whole, with both members and their values.
    CHECK(readBack["hello"] == "world");
    CHECK(readBack["n"].get<int>() == 42);
    std::cout << "PASS atomic_write_crash_safety\n";
    return 0;
}
