// Two runs at once: the directory lock between threads and between processes, its bounded
// wait, and patch, patch and unpatch racing on one directory while a reader parses the file.
#include <atomic>
#include <future>
#include <thread>

#include "bindings_fixtures.h"
#include "dir_lock.h"
#include "run_process.h"

namespace vexlor::testing {
namespace {

bool Held(const fs::path& dir) {
    bool held = false;
    EXPECT_FALSE(platform::ProbeDirectoryLock(dir, held));
    return held;
}

std::future<ProcessResult> Start(const char* program, std::vector<std::string> args) {
    return std::async(std::launch::async, [=] { return RunProcess(program, args); });
}

TEST(DirectoryLock, ExcludesAnotherThreadUntilReleasedAndLeavesNothingBehind) {
    TempDir dir;
    {
        platform::DirectoryLock first, second;
        ASSERT_FALSE(platform::TryLockDirectory(dir.path(), first));
        std::thread([&] {
            EXPECT_EQ(platform::TryLockDirectory(dir.path(), second),
                      std::errc::device_or_resource_busy);
        }).join();
        EXPECT_TRUE(Held(dir.path()));
    }
    EXPECT_FALSE(Held(dir.path()));
    EXPECT_TRUE(ListDir(dir.path()).empty());
}

// The holder is another process: a patch waits for it, also for one killed while holding, and
// past the limit (--wait 1) says so from the start, gives up with its message and exit status 75.
TEST(DirectoryLock, PatchWaitsForAHolderProcessUpToTheLimit) {
    const std::string pastLimit = "3000";
    for (const std::vector<std::string>& holding :
         {std::vector<std::string>{"800", ""}, {"800", "kill"}, {pastLimit, ""}}) {
        BindingsDir d;
        WriteBytes(d.file, kFixtureBytes);
        auto holder = Start(VEXLOR_LOCK_HOLDER_EXE, {d.path().u8string(), holding[0], holding[1]});
        while (!Held(d.path()) &&
               holder.wait_for(std::chrono::milliseconds(5)) == std::future_status::timeout) {
        }
        const auto started = std::chrono::steady_clock::now();
        const ProcessResult run = RunProcess(
            VEXLOR_BINDINGS_EXE,
            {"patch", d.path().u8string(), "--wait", holding[0] == pastLimit ? "1" : "10"});
        const auto waited = std::chrono::steady_clock::now() - started;
        EXPECT_EQ(holder.get().out.find("holding"), 0u);
        if (holding[0] != pastLimit) {
            EXPECT_EQ(run.exitCode, 0) << holding[1] << run.err;
            EXPECT_LT(waited, kLockWaitLimit / 2);
            continue;
        }
        EXPECT_EQ(run.exitCode, 75);
        EXPECT_EQ(run.err, "Vexlor[patch]: waiting for another operation on " + Shown(d.path()) +
                               " to finish (up to 1 s)\n"
                               "Vexlor[patch]: another operation on " +
                               Shown(d.path()) +
                               " is still running after 1 s; nothing was changed\n"
                               "vexlor-bindings: patch failed: another vexlor-bindings run on "
                               "this directory is still working; nothing was changed. Wait for "
                               "it to finish and try again.\n");
        EXPECT_GE(waited, std::chrono::seconds(1));
        EXPECT_EQ(d.entries(), std::vector<std::string>{NameOf(d.file)});
    }
}

// Patch and unpatch both lock the bindings directory itself, so each waits out a holder of it.
TEST(DirectoryLock, PatchAndUnpatchEachWaitForAHolderOfTheBindingsDirectory) {
    constexpr std::chrono::milliseconds kHold{1500};
    for (const char* command : {"patch", "unpatch"}) {
        BindingsDir d;
        WriteBytes(d.file, kFixtureBytes);
        auto holder =
            Start(VEXLOR_LOCK_HOLDER_EXE, {d.path().u8string(), std::to_string(kHold.count()), ""});
        while (!Held(d.path()) &&
               holder.wait_for(std::chrono::milliseconds(5)) == std::future_status::timeout) {
        }
        const auto started = std::chrono::steady_clock::now();
        const ProcessResult run = RunProcess(VEXLOR_BINDINGS_EXE, {command, d.path().u8string()});
        EXPECT_EQ(run.exitCode, 0) << command << ": " << run.err;
        EXPECT_GE(std::chrono::steady_clock::now() - started, kHold * 2 / 3) << command;
        EXPECT_EQ(holder.get().exitCode, 0);
    }
}

TEST(Concurrency, PatchPatchAndUnpatchTogetherNeverExposeAPartialState) {
    BindingsDir d;
    WriteBytes(d.file, kFixtureBytes);
    std::atomic<bool> done{false};
    std::atomic<int> reads{0}, badReads{0};
    // Windows refuses to rename over a file while anyone has it open, and a replace retries
    // for a second only; so this reader keeps the file open a fifth of the time at most. A
    // real reader, the runtime, opens it far less often.
    std::thread reader([&] {
        for (std::string bytes; !done; bytes.clear(), ++reads) {
            const auto started = std::chrono::steady_clock::now();
            badReads += platform::ReadWholeFile(d.file, 1 << 20, bytes) || !json::accept(bytes);
            std::this_thread::sleep_for(4 * (std::chrono::steady_clock::now() - started));
        }
    });
    for (int round = 0; round < VEXLOR_STRESS_ROUNDS && !HasFailure(); ++round) {
        fs::remove(d.backup);
        WriteBytes(d.dir / "next", kFixtureBytes);
        // Whole for the reader too; on a loaded machine the reader may hold the file past the
        // replace's own second of retries, which is what the runs below are for, not this.
        bool replaced = false;
        for (int tries = 0; tries < 10 && !replaced; ++tries) {
            replaced = !platform::ReplaceFile(d.dir / "next", d.file);
        }
        ASSERT_TRUE(replaced);
        std::future<ProcessResult> runs[] = {
            Start(VEXLOR_BINDINGS_EXE, {"patch", d.path().u8string()}),
            Start(VEXLOR_BINDINGS_EXE, {"patch", d.path().u8string()}),
            Start(VEXLOR_BINDINGS_EXE, {"unpatch", d.path().u8string()})};
        // Windows refuses a rename over a file someone has open. On a loaded machine the
        // reader can hold it past the replace's second of retries; a run may then refuse, say
        // so and change nothing, which the checks of the files below still hold it to.
        for (auto& run : runs) {
            const ProcessResult r = run.get();
            const bool heldOpen = r.exitCode == 1 &&
                                  r.err.find("another program holds the file") != std::string::npos;
            EXPECT_TRUE(r.exitCode == 0 || heldOpen) << "round " << round << ": " << r.err;
        }
        const std::vector<std::string> entries = d.entries();
        EXPECT_TRUE(entries == std::vector<std::string>{NameOf(d.file)} ||
                    entries == (std::vector<std::string>{NameOf(d.file), NameOf(d.backup)}));
        EXPECT_EQ(fs::exists(d.backup) ? ReadBytes(d.backup) : kFixtureBytes, kFixtureBytes);
        const std::string now = ReadBytes(d.file);
        EXPECT_TRUE(now == kFixtureBytes || now == kPatchedFixtureBytes) << now;
    }
    done = true;
    reader.join();
    EXPECT_EQ(badReads, 0) << "of " << reads << " reads";
}

}  // namespace
}  // namespace vexlor::testing
