// What people and the runtime change around the patch survives every sequence of runs, run
// through vexlor-bindings on real directories as a user would.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

#include "bindings_fixtures.h"
#include "file_ops.h"
#include "json_file.h"
#include "os_traps.h"
#include "replace_seam.h"
#include "run_process.h"

namespace vexlor::testing {
namespace {

struct ToolDir : BindingsDir {
    ProcessResult run(const char* command) {
        return RunProcess(VEXLOR_BINDINGS_EXE, {command, path().u8string()});
    }
    void ok(const char* command) {
        const ProcessResult r = run(command);
        ASSERT_EQ(r.exitCode, 0) << command << ": " << r.err;
    }
    json document() const { return json::parse(ReadBytes(file)); }
    void edit(const std::function<void(json&)>& change) {
        json doc = document();
        change(doc);
        WriteBytes(file, doc.dump(2));
    }
};

const json kUserSet = {{"sources", json::array({{{"path", "/user/hand/left/input/a"}}})}};

TEST(DataSafety, UnpatchKeepsWhatChangedSinceThePatch) {
    {
        SCOPED_TRACE("patch, unpatch, edit, patch, unpatch keeps the edit");
        ToolDir d;
        WriteBytes(d.file, kFixtureBytes);
        d.ok("patch");
        d.ok("unpatch");
        d.edit([](json& doc) { doc["name"] = "mine"; });
        const json edited = d.document();
        d.ok("patch");
        d.ok("unpatch");
        EXPECT_EQ(d.document(), edited);
        EXPECT_EQ(ReadBytes(d.backup), kFixtureBytes);
    }
    {
        SCOPED_TRACE("the runtime's rewrite after a patch survives the unpatch");
        ToolDir d;
        WriteBytes(d.file, kFixtureBytes);
        d.ok("patch");
        const std::string rewrite = R"({"bindings": {}, "controller_type": "generic_hmd"})";
        WriteBytes(d.file, rewrite);
        const ProcessResult r = d.run("unpatch");
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_NE(r.err.find("no longer carries the patch"), std::string::npos) << r.err;
        EXPECT_EQ(ReadBytes(d.file), rewrite);
    }
    {
        SCOPED_TRACE("the user's own set at an injected key comes back, the later edit stays");
        ToolDir d;
        json original = json::parse(kFixtureBytes);
        original["bindings"]["/actions/system"] = kUserSet;
        WriteBytes(d.file, original.dump(4));
        d.ok("patch");
        d.edit([](json& doc) { doc["bindings"]["/actions/mine"] = kUserSet; });
        const ProcessResult r = d.run("unpatch");
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_NE(r.err.find("undid the patch in place"), std::string::npos) << r.err;
        original["bindings"]["/actions/mine"] = kUserSet;
        EXPECT_EQ(d.document(), original);
    }
}

// Each way a backup can be blocked leaves the file unchanged and says why, with exit 1.
TEST(DataSafety, NoPatchWithoutACompleteBackup) {
    if (!HavePosixFiles()) {
        GTEST_SKIP() << "symbolic links and mounts need POSIX";
    }
    {
        SCOPED_TRACE("dangling link at the backup's name");
        ToolDir d;
        WriteBytes(d.file, kFixtureBytes);
        fs::create_symlink("nowhere", d.backup);
        const ProcessResult r = d.run("patch");
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_NE(r.err.find("backup write failed"), std::string::npos) << r.err;
        EXPECT_EQ(ReadBytes(d.file), kFixtureBytes);
        EXPECT_TRUE(fs::is_symlink(d.backup));
    }
    TempDir mountPoint;
    const std::string where = mountPoint.path().string();
    if (std::system(("mount -t tmpfs -o size=64k vexlor-full " + where + " 2>/dev/null").c_str())) {
        GTEST_SKIP() << "cannot mount a small tmpfs here (needs root and mount rights)";
    }
    SCOPED_TRACE("full file system");
    const std::string bytes =
        json{{"bindings", json::object()}, {"pad", std::string(41000, 'x')}}.dump();
    WriteBytes(mountPoint / kBindingsFileName, bytes);
    const ProcessResult r = RunProcess(VEXLOR_BINDINGS_EXE, {"patch", where});
    const bool backedUp = fs::exists(SiblingPath(mountPoint / kBindingsFileName, kBackupSuffix));
    const bool untouched = ReadBytes(mountPoint / kBindingsFileName) == bytes;
    std::system(("umount " + where).c_str());
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_TRUE(untouched && !backedUp) << r.err;
}

TEST(DataSafety, LinkedBindingsFileStaysALinkAndOnlyItsOwnersFileIsWritten) {
    if (!HavePosixFiles()) {
        GTEST_SKIP() << "symbolic links need privileges on Windows";
    }
    // A relative link leads from the link's own directory, wherever the tool runs from.
    for (const bool relative : {false, true}) {
        SCOPED_TRACE(relative ? "relative link" : "absolute link");
        ToolDir d;
        TempDir elsewhere;
        const fs::path real = elsewhere / "real.json";
        WriteBytes(real, kFixtureBytes);
        fs::create_symlink(relative ? fs::relative(real, d.path()) : real, d.file);
        d.ok("patch");
        EXPECT_TRUE(fs::is_symlink(d.file));
        EXPECT_EQ(ReadBytes(real), kPatchedFixtureBytes);
        EXPECT_EQ(ReadBytes(d.backup), kFixtureBytes);
        d.ok("unpatch");
        EXPECT_TRUE(fs::is_symlink(d.file));
        EXPECT_EQ(ReadBytes(real), kFixtureBytes);
    }
    // Neither the file nor the backup may lead to a file of another user.
    struct Case {
        const char* command;
        bool linkedBackup;
    };
    for (const Case c : {Case{"patch", false}, Case{"patch", true}, Case{"unpatch", true}}) {
        SCOPED_TRACE(std::string(c.command) + (c.linkedBackup ? ", backup linked" : ""));
        ToolDir d;
        TempDir elsewhere;
        const fs::path foreign = elsewhere / "foreign.json";
        WriteBytes(foreign, kFixtureBytes);
        if (std::system(("chown nobody " + foreign.string() + " 2>/dev/null").c_str()) != 0) {
            GTEST_SKIP() << "cannot give a file to another user here";
        }
        const std::string before =
            c.command == std::string("patch") ? kFixtureBytes : kPatchedFixtureBytes;
        if (c.linkedBackup) {
            WriteBytes(d.file, before);
        }
        fs::create_symlink(foreign, c.linkedBackup ? d.backup : d.file);
        const ProcessResult r = d.run(c.command);
        EXPECT_EQ(r.exitCode, 1) << r.err;
        EXPECT_NE(r.err.find("another user"), std::string::npos) << r.err;
        EXPECT_EQ(ReadBytes(foreign), kFixtureBytes);
        EXPECT_EQ(ReadBytes(d.file), c.linkedBackup ? before : kFixtureBytes);
    }
}

// What would be written back must be readable again: a minified file that pretty-printing
// takes over the read limit is refused before anything is written; one near the limit in the
// written form patches, and patches again.
TEST(DataSafety, NeverWritesWhatItWouldRefuseToRead) {
    if (const char* why = WhyNoLargeFilesHere()) {
        GTEST_SKIP() << why;
    }
    ToolDir d;
    const std::string set = InjectedActionSets()["/actions/system"].dump();
    auto minified = [&](std::size_t sets) {
        std::string text = R"({"bindings":{)";
        for (std::size_t i = 0; i < sets; ++i) {
            text += "\"/actions/app" + std::to_string(100000 + i) + "\":" + set + ",";
        }
        return text + R"("/actions/last":{}},"name":"default"})";
    };
    const std::size_t written0 = json::parse(minified(0)).dump(4).size();
    const std::size_t perSet = (json::parse(minified(1000)).dump(4).size() - written0) / 1000;
    WriteBytes(d.file, minified(kMaxFileBytes / perSet + 100));
    EXPECT_EQ(d.run("patch").exitCode, 1);
    EXPECT_EQ(d.entries(), std::vector<std::string>{NameOf(d.file)});

    WriteBytes(d.file, minified((kMaxFileBytes - written0 - 8192) / perSet - 10));
    d.ok("patch");
    d.ok("patch");
    EXPECT_LE(fs::file_size(d.file), kMaxFileBytes);
    EXPECT_GT(fs::file_size(d.file), kMaxFileBytes - 65536);
}

// Someone who takes no lock writes the file between the operation's read and its replace:
// patch and unpatch start again from the new content, even when it has the old one's size; a
// writer that never stops makes them give up.
TEST(DataSafety, ChangeBetweenReadAndReplaceIsNeverOverwritten) {
    BindingsDir d;
    CapturingLogger log;
    std::string rewrite = R"({"bindings": {}, "written": "meanwhile"})";
    ASSERT_LT(rewrite.size(), kFixtureBytes.size());
    rewrite.resize(kFixtureBytes.size(), ' ');
    int writes = 0;
    const auto writeOnce = [&](const std::string& bytes) {
        writes = 0;
        WhenTemporaryWritten([&writes, bytes](const fs::path& target) {
            if (writes++ == 0) {
                WriteBytes(target, bytes);
            }
        });
    };
    writeOnce(rewrite);
    WriteBytes(d.file, kFixtureBytes);
    EXPECT_TRUE(PatchGenericHmdBindingsFile(d.path(), log.logger()));
    EXPECT_EQ(json::parse(ReadBytes(d.file)), Patched(json::parse(rewrite)));
    EXPECT_EQ(ReadBytes(d.backup), kFixtureBytes);

    json edited = Patched(json::parse(rewrite));
    edited["edited"] = "meanwhile";
    writeOnce(edited.dump(4));
    EXPECT_TRUE(UnpatchGenericHmdBindingsFile(d.path(), log.logger())) << log.joined();
    EXPECT_EQ(json::parse(ReadBytes(d.file)).value("edited", ""), "meanwhile");
    EXPECT_FALSE(json::parse(ReadBytes(d.file)).contains(kMarkerKey));

    const std::string patchedRewrite = Patched(json::parse(rewrite)).dump(4);
    WriteBytes(d.file, patchedRewrite);
    WhenTemporaryWritten([&](const fs::path& target) {
        WriteBytes(target, patchedRewrite + std::string(writes++ % 7, ' '));
    });
    EXPECT_FALSE(UnpatchGenericHmdBindingsFile(d.path(), log.logger()));
    WhenTemporaryWritten({});
    EXPECT_NE(log.joined().find("kept changing"), std::string::npos) << log.joined();
    EXPECT_EQ(json::parse(ReadBytes(d.file)), json::parse(patchedRewrite));

    // A file the backup's note shows to be the patch is hashed, not kept: the check before the
    // rename goes by the hash, and still sees the change.
    BindingsDir noted;
    WriteBytes(noted.file, kFixtureBytes);
    ASSERT_TRUE(PatchGenericHmdBindingsFile(noted.path(), Logger{}));
    writeOnce(edited.dump(4));
    EXPECT_TRUE(UnpatchGenericHmdBindingsFile(noted.path(), log.logger())) << log.joined();
    WhenTemporaryWritten({});
    EXPECT_EQ(writes, 2);
    EXPECT_EQ(json::parse(ReadBytes(noted.file)).value("edited", ""), "meanwhile");
}

}  // namespace
}  // namespace vexlor::testing
