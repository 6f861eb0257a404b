// The verification driver run as a user runs it: a real process, its output streams, its
// exit status and the workspace it leaves behind.
#include <algorithm>
#include <list>
#include <regex>

#include <gtest/gtest.h>

#include "bindings_fixtures.h"
#include "os_traps.h"
#include "run_process.h"
#include "test_support.h"

namespace vexlor::testing {
namespace {

namespace fs = std::filesystem;

const std::string kFullRun =
    "PASS idempotency\n"
    "PASS write_once_backup\n"
    "PASS unpatch_restore\n"
    "PASS unpatch_marker_erase\n"
    "PASS unpatch_noop\n"
    "PASS atomic_write_crash_safety\n"
    "ALL PASS\n";

// Runs the driver with the system's temporary directory pointed at `tempDir`, so that its
// workspace lands where the test can look at it.
ProcessResult RunDriverIn(const fs::path& tempDir, const std::vector<std::string>& args,
                          const fs::path& driver = VEXLOR_VERIFY_EXE) {
    ScopedVariable redirect(kTempDirVariable, tempDir.string());
    return RunProcess(driver, args);
}

// The one workspace the driver made under `tempDir`: "vexlor_test_bindings_<pid>".
fs::path OnlyWorkspaceIn(const fs::path& tempDir) {
    const std::vector<std::string> entries = ListDir(tempDir);
    EXPECT_EQ(entries.size(), 1u);
    if (entries.size() != 1u) {
        return {};
    }
    EXPECT_TRUE(std::regex_match(entries[0], std::regex("vexlor_test_bindings_[1-9][0-9]*")))
        << entries[0];
    return tempDir / entries[0];
}

TEST(Driver, FullRunPrintsSixPassLinesInOrderThenAllPass) {
    TempDir temp;
    const ProcessResult r = RunDriverIn(temp.path(), {});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, kFullRun);
    EXPECT_EQ(r.err, "");
}

TEST(Driver, WorkspaceAfterAFullRunHoldsOnlyTheCrashSafeTarget) {
    TempDir temp;
    ASSERT_EQ(RunDriverIn(temp.path(), {}).exitCode, 0);
    const fs::path workspace = OnlyWorkspaceIn(temp.path());
    ASSERT_FALSE(workspace.empty());
    EXPECT_EQ(ListDir(workspace), std::vector<std::string>{"crashsafe_target.json"});
    const std::string bytes = ReadBytes(workspace / "crashsafe_target.json");
    EXPECT_EQ(bytes, "{\n    \"hello\": \"world\",\n    \"n\": 42\n}");
    EXPECT_EQ(bytes.size(), 37u);
}

TEST(Driver, IdempotentOnlyRunsTheIdempotencyScenarioAlone) {
    TempDir temp;
    const ProcessResult r = RunDriverIn(temp.path(), {"idempotent-only"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "PASS idempotency\n");
    EXPECT_EQ(r.err, "");
    // What the idempotency scenario leaves: the patched fixture and its backup.
    const fs::path workspace = OnlyWorkspaceIn(temp.path());
    ASSERT_FALSE(workspace.empty());
    EXPECT_EQ(ReadBytes(workspace / "vrcompositor_bindings_generic_hmd.json"),
              kPatchedFixtureBytes);
    EXPECT_EQ(ReadBytes(workspace / "vrcompositor_bindings_generic_hmd.json.vexlor_backup"),
              kFixtureBytes);
}

TEST(Driver, OnlyTheExactFirstArgumentSelectsIdempotentOnly) {
    const std::vector<std::vector<std::string>> fullRuns = {{"Idempotent-only"},
                                                            {"idempotent-only "},
                                                            {"idempotent"},
                                                            {""},
                                                            {"--all", "idempotent-only"}};
    for (const auto& args : fullRuns) {
        SCOPED_TRACE(args[0] + " (" + std::to_string(args.size()) + " arguments)");
        TempDir temp;
        const ProcessResult r = RunDriverIn(temp.path(), args);
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(r.out, kFullRun);
        EXPECT_EQ(r.err, "");
    }
}

TEST(Driver, ArgumentsAfterIdempotentOnlyAreIgnored) {
    TempDir temp;
    const ProcessResult r = RunDriverIn(temp.path(), {"idempotent-only", "extra", "more"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "PASS idempotency\n");
}

// With no usable temporary directory the workspace query throws; the driver must report
// that as a failed scenario, not abort.
TEST(Driver, ExceptionLeavingAScenarioIsOneFailLineAndExitStatusOne) {
    TempDir temp;
    const fs::path notADirectory = temp / "plain_file";
    WriteBytes(notADirectory, "x");
    const ProcessResult r = RunDriverIn(notADirectory, {});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("FAIL: idempotency: ", 0), 0u) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
}

// A workspace that cannot be created makes the first patch fail; the report names the
// check's text and line, and no later scenario runs.
TEST(Driver, FailedCheckReportsItsTextAndLineAndStopsTheRun) {
    TempDir temp;
    ScopedImmutable locked(temp.path());
    if (!locked.available()) {
        GTEST_SKIP() << "cannot make a directory immutable here (needs chattr, root and a file "
                        "system with the flag)";
    }
    const ProcessResult r = RunDriverIn(temp.path(), {});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "FAIL: PatchGenericHmdBindingsFile(tmp, noopLog) at line 111\n");
}

#ifdef VEXLOR_VERIFY_FAULTY_EXE
// The driver's output contract, written out once: every check, made to fail for real by the
// misbehaving operations of driver_faults.cpp, prints exactly its text and its line.
const std::string kBindings = "vrcompositor_bindings_generic_hmd.json";
const std::string kBackup = kBindings + ".vexlor_backup";
const std::string kTarget = "crashsafe_target.json";
const std::string kEditName = "|generic_hmd bindings|edited bindings";
const std::string kEditMarker = "edit|" + kBindings + "|\"vexlor_patched_v2\": true|";
const std::string kAddSet = "edit|" + kBindings + "|\"bindings\": {}|\"bindings\": {\"/actions/";

struct PinnedFailure {
    std::string text;
    std::vector<std::pair<std::string, std::string>> faults;  // VEXLOR_FAULT_<call>, value
};

const std::vector<PinnedFailure> kPinnedFailures = {
    {"PatchGenericHmdBindingsFile(tmp, noopLog) at line 111", {{"PATCH_1", "false"}}},
    {"PatchGenericHmdBindingsFile(tmp, noopLog) at line 115", {{"PATCH_2", "false"}}},
    {"after1 == after2 at line 119", {{"PATCH_2", "edit|" + kBindings + kEditName}}},
    {"j.contains(kMarkerKey) at line 123",
     {{"PATCH_1", kEditMarker + "\"unmarked\": true"}, {"PATCH_2", "skip"}}},
    {"j[kMarkerKey].is_boolean() at line 124",
     {{"PATCH_1", kEditMarker + "\"vexlor_patched_v2\": \"true\""}, {"PATCH_2", "skip"}}},
    {"j[kMarkerKey].get<bool>() == true at line 125",
     {{"PATCH_1", kEditMarker + "\"vexlor_patched_v2\": false"}, {"PATCH_2", "skip"}}},
    {"PatchGenericHmdBindingsFile(tmp, noopLog) at line 145", {{"PATCH_3", "false"}}},
    {"fs::exists(backup) at line 146", {{"PATCH_3", "remove|" + kBackup}}},
    {"backupAfterFirst == originalBytes at line 148", {{"PATCH_3", "edit|" + kBackup + kEditName}}},
    {"PatchGenericHmdBindingsFile(tmp, noopLog) at line 167", {{"PATCH_4", "false"}}},
    {"backupAfterSecond == originalBytes at line 169",
     {{"PATCH_4", "edit|" + kBackup + kEditName}}},
    {"PatchGenericHmdBindingsFile(tmp, noopLog) at line 187", {{"PATCH_5", "false"}}},
    {"fs::exists(backup) at line 188", {{"PATCH_5", "remove|" + kBackup}}},
    {"UnpatchGenericHmdBindingsFile(tmp, noopLog) at line 190", {{"UNPATCH_1", "false"}}},
    {"slurp(target) == originalBytes at line 191",
     {{"UNPATCH_1", "edit|" + kBindings + kEditName}}},
    {"fs::exists(backup) at line 193", {{"UNPATCH_1", "remove|" + kBackup}}},
    {"slurp(backup) == originalBytes at line 194", {{"UNPATCH_1", "edit|" + kBackup + kEditName}}},
    {"PatchGenericHmdBindingsFile(tmp, noopLog) at line 211", {{"PATCH_6", "false"}}},
    {"fs::exists(backup) at line 212", {{"PATCH_6", "remove|" + kBackup}}},
    {"!fs::exists(backup) at line 216", {{"PATCH_6", "directory|" + kBackup}}},
    {"UnpatchGenericHmdBindingsFile(tmp, noopLog) at line 218", {{"UNPATCH_2", "false"}}},
    {"!j.contains(kMarkerKey) at line 221", {{"UNPATCH_2", "skip"}}},
    {"!j[\"bindings\"].contains(\"/actions/lasermouse\") at line 223",
     {{"UNPATCH_2", kAddSet + "lasermouse\": {}}"}}},
    {"!j[\"bindings\"].contains(\"/actions/lasermouse_secondary\") at line 224",
     {{"UNPATCH_2", kAddSet + "lasermouse_secondary\": {}}"}}},
    {"!j[\"bindings\"].contains(\"/actions/system\") at line 225",
     {{"UNPATCH_2", kAddSet + "system\": {}}"}}},
    {"UnpatchGenericHmdBindingsFile(tmp, noopLog) at line 242", {{"UNPATCH_3", "false"}}},
    {"slurp(target) == originalBytes at line 243",
     {{"UNPATCH_3", "edit|" + kBindings + kEditName}}},
    // A workspace where nothing can be created: the stale temporary file cannot be planted.
    {"fs::exists(staleTmp) at line 264", {{"UNPATCH_3", "env|TMPDIR|/proc"}}},
    {"AtomicWriteJson(target, j, noopLog) at line 267", {{"WRITE_1", "false"}}},
    {"fs::exists(target) at line 269", {{"WRITE_1", "remove|" + kTarget}}},
    {"!fs::exists(staleTmp) at line 270", {{"WRITE_1", "touch|" + kTarget + ".vexlor_tmp"}}},
    {"readBack[\"hello\"] == \"world\" at line 273",
     {{"WRITE_1", "edit|" + kTarget + "|world|World"}}},
    {"readBack[\"n\"].get<int>() == 42 at line 274", {{"WRITE_1", "edit|" + kTarget + "|42|43"}}},
};

TEST(Driver, EveryCheckThatFailsPrintsItsTextAndLineAndStopsTheRun) {
    TempDir temp;
    const ProcessResult control = RunDriverIn(temp.path(), {}, VEXLOR_VERIFY_FAULTY_EXE);
    ASSERT_EQ(control.out, kFullRun) << control.err;
    EXPECT_EQ(kPinnedFailures.size(), 33u);
    for (const PinnedFailure& pinned : kPinnedFailures) {
        SCOPED_TRACE(pinned.text);
        std::list<ScopedVariable> faults;
        for (const auto& [call, value] : pinned.faults) {
            faults.emplace_back("VEXLOR_FAULT_" + call, value);
        }
        const ProcessResult r = RunDriverIn(temp.path(), {}, VEXLOR_VERIFY_FAULTY_EXE);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.err, "FAIL: " + pinned.text + "\n");
    }
}
#endif

}  // namespace
}  // namespace vexlor::testing
