// The verification driver run as a user runs it: a real process, its output streams, its
// exit status and the workspace it leaves behind.
#include <algorithm>
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
ProcessResult RunDriverIn(const fs::path& tempDir, const std::vector<std::string>& args) {
    ScopedTempDirVariable redirect(tempDir);
    return RunProcess(VEXLOR_VERIFY_EXE, args);
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

}  // namespace
}  // namespace vexlor::testing
