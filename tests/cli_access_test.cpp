// Who may use the bindings file, as the system's own tools set and show it: the tool run as
// root and as the file's owner must leave it exactly as it found it, or refuse and change
// nothing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "os_traps.h"
#include "run_process.h"
#include "test_support.h"

namespace vexlor::testing {
namespace {

#if !defined(_WIN32)

const char* const kBindings = "vrcompositor_bindings_generic_hmd.json";
const std::string kOriginal = "{\"bindings\": {}}";

// What a shell command printed, standard error included.
std::string Shell(const std::string& command) {
    return RunProcess("/bin/sh", {"-c", command + " 2>&1"}).out;
}

// Owner, group, mode, ACL and extended attributes, as stat, getfacl and getfattr print them.
// Who may use `file`, and its extended attributes but the note a backup carries of its patch.
std::string AccessPicture(const fs::path& file) {
    const std::string name = "'" + file.string() + "'";
    return Shell("stat -c '%U:%G %a' " + name + " && getfacl -cp " + name +
                 " && getfattr -d --absolute-names " + name +
                 " | grep -v -e '^# file' -e '^$' -e '^user.vexlor.note='");
}

// The tool as root, or with `groups` as nobody, the files' owner.
ProcessResult ToolAs(const char* groups, const std::vector<std::string>& args) {
    if (groups == nullptr) {
        return RunProcess(VEXLOR_BINDINGS_EXE, args);
    }
    std::vector<std::string> line = {"--reuid=nobody", "--regid=nogroup",
                                     std::string("--groups=") + groups, VEXLOR_BINDINGS_EXE};
    line.insert(line.end(), args.begin(), args.end());
    return RunProcess("/usr/bin/setpriv", line);
}

TEST(CliAccess, PatchAndUnpatchKeepWhoMayUseTheFileOrChangeNothing) {
    if (Shell("which setfacl setfattr setpriv | wc -l") != "3\n") {
        GTEST_SKIP() << "needs setfacl, setfattr and setpriv (scripts/setup.sh installs them)";
    }
    struct Case {
        const char* what;
        const char* owner;   // chown's argument for the file, and the directory's owner
        const char* setup;   // run on the file ($F) before the patch
        const char* groups;  // nullptr: run as root; otherwise as nobody in these groups
        int exitCode;
    };
    const Case cases[] = {
        {"ACL, attribute, group", "root:users",
         "chmod 600 $F && setfacl -m u:nobody:r $F && setfattr -n user.origin -v kept $F", nullptr,
         0},
        {"owner in the file's group", "nobody:users", "chmod 660 $F", "users", 0},
        {"owner with an ACL", "nobody:nogroup", "chmod 640 $F && setfacl -m g:users:r $F", "users",
         0},
        {"owner outside the file's group", "nobody:root", "chmod 660 $F", "users", 1},
    };
    for (const Case& c : cases) {
        TempDir dir;
        const fs::path file = dir / kBindings;
        WriteBytes(file, kOriginal);
        const std::string owner = c.owner;
        const std::string setup = "cd '" + dir.path().string() + "' && F=" + kBindings + " && " +
                                  c.setup + " && chown " + owner + " $F && chown " +
                                  owner.substr(0, owner.find(':')) + " .";
        ASSERT_EQ(Shell(setup), "") << c.what;
        const std::string before = AccessPicture(file);
        const ProcessResult patched = ToolAs(c.groups, {"patch", dir.path().string()});
        EXPECT_EQ(patched.exitCode, c.exitCode) << c.what << patched.err;
        EXPECT_EQ(AccessPicture(file), before) << c.what;
        if (c.exitCode != 0) {
            EXPECT_EQ(ReadBytes(file), kOriginal) << c.what;
            EXPECT_EQ(ListDir(dir.path()).size(), 1u) << c.what;
            EXPECT_NE(patched.err.find("patch failed: who may use the file (its group, access "
                                       "control list or security label) cannot be given to the "
                                       "new file; nothing was changed."),
                      std::string::npos)
                << patched.err;
            continue;
        }
        const fs::path backup = file.string() + ".vexlor_backup";
        EXPECT_EQ(AccessPicture(backup), before) << c.what;
        const std::string note =
            Shell("getfattr --absolute-names --only-values -n user.vexlor.note '" +
                  backup.string() + "'");
        EXPECT_EQ(note.rfind("vexlor_patched_v2 ", 0), 0u) << c.what << note;
        const ProcessResult unpatched = ToolAs(c.groups, {"unpatch", dir.path().string()});
        EXPECT_EQ(unpatched.exitCode, 0) << c.what << unpatched.err;
        EXPECT_EQ(ReadBytes(file), kOriginal) << c.what;
        EXPECT_EQ(AccessPicture(file), before) << c.what;
    }
}

TEST(CliAccess, OtherNamesOfTheFileAreNamedAndKeepTheOldContent) {
    TempDir dir;
    const fs::path file = dir / kBindings;
    WriteBytes(file, kOriginal);
    fs::create_hard_link(file, dir / "other.json");
    const std::string warning = "Vexlor[patch]: warning: " + file.string() +
                                " has another name (a hard link), which keeps the old content\n";
    for (const bool dryRun : {true, false}) {
        const ProcessResult r =
            ToolAs(nullptr, {"patch", dir.path().string(), dryRun ? "--dry-run" : "--"});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.err.rfind(warning, 0), 0u) << r.err;
    }
    EXPECT_EQ(ReadBytes(dir / "other.json"), kOriginal);
    EXPECT_NE(ReadBytes(file), kOriginal);
}

// Real system failures, injected by strace at the one call that fails; the closing line says
// what is on disk afterwards, and a read error is reported as that, never as someone else's
// writing.
TEST(CliAccess, TheClosingLineTellsWhatIsOnDiskAfterAFailure) {
    if (Shell("which strace | wc -l") != "1\n") {
        GTEST_SKIP() << "needs strace (scripts/setup.sh installs it)";
    }
    if (Sanitized()) {
        GTEST_SKIP() << "the calls are counted as the plain build makes them; a sanitized "
                        "program makes others of its own first";
    }
    struct Case {
        std::vector<const char*> injects;
        const char* message;  // a line of the patcher's, or part of one; DIR: the directory
        const char* onDisk;   // the closing line's account of the disk
        std::size_t files;
        bool quiet;
    };
    const std::string saved =
        "; the bindings file was not changed; its original was saved as "
        "vrcompositor_bindings_generic_hmd.json.vexlor_backup. ";
    const Case cases[] = {
        {{"read:error=EIO:when=4"},
         "again before replacing it: Input/output error",
         "a file could not be read",
         2,
         false},
        {{"fsync:error=EIO:when=3"},
         "Vexlor[patch]: backup write failed: could not flush DIR/"
         "vrcompositor_bindings_generic_hmd.json.vexlor_backup to storage: Input/output error\n",
         "the backup of the original could not be flushed to storage",
         2,
         false},
        {{"write:error=EIO:when=1", "unlink:error=EACCES:when=2"},
         "Input/output error",
         "; the bindings file was not changed; the temporary file "
         "vrcompositor_bindings_generic_hmd.json.vexlor_tmp could not be removed.",
         2,
         false},
        // The message --quiet did not show is told by the closing line itself.
        {{"write:error=EIO:when=1"},
         "patch failed: tmp write failed for ",
         ": Input/output error; the bindings file was not changed. Correct what it names",
         1,
         true},
    };
    for (const Case& c : cases) {
        TempDir dir;
        WriteBytes(dir / kBindings, kOriginal);
        std::vector<std::string> line = {"-f", "-qq", "-o", "/dev/null"};
        for (const char* inject : c.injects) {
            line.insert(line.end(), {"-e", std::string("inject=") + inject});
        }
        line.insert(line.end(), {VEXLOR_BINDINGS_EXE, "patch", dir.path().string(),
                                 c.quiet ? "--quiet" : "--"});
        const ProcessResult r = RunProcess("/usr/bin/strace", line);
        EXPECT_EQ(r.exitCode, 1) << r.err;
        std::string message = c.message;
        if (const std::size_t at = message.find("DIR"); at != std::string::npos) {
            message.replace(at, 3, dir.path().string());
        }
        EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("kept changing"), std::string::npos) << r.err;
        const bool backupMade = c.files == 2 && c.injects.size() == 1;
        const std::string closing = std::string(c.onDisk) + (backupMade ? saved : "");
        EXPECT_NE(r.err.find(closing), std::string::npos) << r.err;
        EXPECT_EQ(ReadBytes(dir / kBindings), kOriginal);
        EXPECT_EQ(ListDir(dir.path()).size(), c.files) << r.err;
    }
}

// A directory the lock cannot read, or whose files cannot be replaced: refused for that cause
// before anything is made in it, by the dry run in the same words.
TEST(CliAccess, DirectoriesThatCannotTakeAReplacementAreRefusedByTheDryRunToo) {
    struct Case {
        const char* setup;  // run in the directory
        const char* groups;
        const char* what;
    };
    const Case cases[] = {
        {"chown nobody . $F && chmod 0311 .", "nogroup",
         "the bindings directory cannot be read, which locking it against other runs needs"},
        {"chattr +a .", nullptr,
         "the bindings directory is append-only or immutable, so no file in it can be replaced"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        WriteBytes(dir / kBindings, kOriginal);
        const std::string in = "cd '" + dir.path().string() + "' && F=" + kBindings + " && ";
        if (Shell(in + c.setup) != "") {
            continue;  // no chattr, or a file system without the attribute
        }
        for (const char* mode : {"--dry-run", "--"}) {
            const ProcessResult r = ToolAs(c.groups, {"patch", dir.path().string(), mode});
            EXPECT_EQ(r.exitCode, 1) << r.err;
            EXPECT_NE(r.err.find(std::string("patch ") +
                                 (mode[2] == 'd' ? "would fail: " : "failed: ") + c.what),
                      std::string::npos)
                << r.err;
        }
        Shell(in + "chattr -a . ; chmod 0755 .");
        EXPECT_EQ(ListDir(dir.path()), std::vector<std::string>{kBindings}) << c.what;
    }
}

// Another operation holds the directory: the run says so at once, gives up after --wait with
// status 75, and stops at a signal, saying that nothing was changed, with 128 + its number.
TEST(CliAccess, WaitingForAnotherOperationIsSaidAndCanBeCutShort) {
    struct Case {
        const char* options;
        const char* signal;  // sent 0.3 s after the start; "" for none
        int exitCode;
        const char* closing;
        bool waits;  // says that it waits
    };
    const Case cases[] = {
        {"--wait 0", "", 75, "patch failed: another vexlor-bindings run on this directory", false},
        {"--wait 1", "", 75, "is still running after 1 s; nothing was changed", true},
        {"--dry-run", "", 0, " is running now; the real run would wait for it to finish\n", false},
        {"", "INT", 130, "vexlor-bindings: patch interrupted; nothing was changed.\n", true},
        {"--wait 5", "TERM", 143, "vexlor-bindings: patch interrupted; nothing was changed.\n",
         true},
    };
    for (const Case& c : cases) {
        TempDir dir;
        WriteBytes(dir / kBindings, kOriginal);
        const std::string d = "'" + dir.path().string() + "'";
        const std::string signal = *c.signal ? std::string("kill -") + c.signal + " $P; " : "";
        const std::string run = "(" + std::string(VEXLOR_LOCK_HOLDER_EXE) + " " + d +
                                " 1500 >/dev/null & sleep 0.2; " + VEXLOR_BINDINGS_EXE + " patch " +
                                d + " " + c.options + " & P=$!; sleep 0.3; " + signal +
                                "wait $P; echo status $?; wait)";
        const std::string out = Shell(run);
        EXPECT_EQ(out.find("waiting for another operation on " + dir.path().string()) !=
                      std::string::npos,
                  c.waits)
            << out;
        EXPECT_NE(out.find(c.closing), std::string::npos) << out;
        EXPECT_NE(out.find("status " + std::to_string(c.exitCode) + "\n"), std::string::npos)
            << out;
        EXPECT_EQ(ReadBytes(dir / kBindings), kOriginal);
    }
}

// What users read names the true cause in plain words, the same in status as in the patch.
TEST(CliAccess, MessagesSayTheCauseInPlainWords) {
    struct Case {
        const char* bytes;
        const char* setup;   // run in the directory
        const char* groups;  // as root, or as nobody
        const char* command;
        const char* said;
    };
    const Case cases[] = {
        {"{\"a\":", "", nullptr, "patch",
         ": line 1, column 6: unexpected end of input; expected '[', '{', or a literal\n"},
        {"{\"a\":", "", nullptr, "status", "bindings file: not JSON: line 1, column 6: "},
        {" \n", "", nullptr, "status", "bindings file: empty\n"},
        {" \n", "", nullptr, "patch", "patch failed: the bindings file is empty;"},
        {"{}", "chmod 000 $F && chown nobody .", "nogroup", "patch", "Vexlor[patch]: cannot read "},
        {"{}",
         "mount -t tmpfs -o size=64k vexlor-ro \"$D\" && echo '{}' >\"$D/$F\" && "
         "mount -o remount,ro \"$D\"",
         nullptr, "patch", "the file system of the bindings directory is mounted read-only;"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        WriteBytes(dir / kBindings, c.bytes);
        const std::string in =
            "D='" + dir.path().string() + "' && cd \"$D\" && F=" + kBindings + " && ";
        if (*c.setup && Shell(in + c.setup) != "") {
            continue;  // no right to mount here
        }
        const ProcessResult r = ToolAs(c.groups, {c.command, dir.path().string()});
        Shell("umount '" + dir.path().string() + "' 2>/dev/null");
        EXPECT_NE((r.out + r.err).find(c.said), std::string::npos) << r.out << r.err;
        EXPECT_EQ(r.err.find("json.exception"), std::string::npos) << r.err;
    }
}

#endif

}  // namespace
}  // namespace vexlor::testing
