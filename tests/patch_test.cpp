#include <gtest/gtest.h>

#include "bindings_fixtures.h"
#include "os_traps.h"
#include "test_support.h"
#include "vexlor/bindings.h"

namespace vexlor::testing {
namespace {

namespace fs = std::filesystem;

using Messages = std::vector<std::string>;

struct PatchDir : BindingsDir {
    CapturingLogger log;

    bool patch() { return PatchGenericHmdBindingsFile(path(), log.logger()); }
    std::string backedUp() const {
        return "Vexlor[patch]: backed up original to " + Shown(backup) + "\n";
    }
    std::string patched() const { return "Vexlor[patch]: patched " + Shown(file) + "\n"; }
    fs::path generation(int n) const { return fs::path(backup) += "." + std::to_string(n); }
    std::string newGeneration(int kept, int made) const {
        return "Vexlor[patch]: the file changed since its last backup; kept " +
               Shown(kept == 1 ? backup : generation(kept)) +
               " and backed up the new original to " + Shown(generation(made)) + "\n";
    }
};

// A call that must leave the directory exactly as it found it.
void ExpectRefusedUntouched(PatchDir& d, const std::string& bytes) {
    EXPECT_EQ(d.log.messages().size(), 1u);
    EXPECT_EQ(ReadBytes(d.file), bytes);
    EXPECT_EQ(d.entries(), std::vector<std::string>{NameOf(d.file)});
}

TEST(PatchMissing, EmptyDirectoryFailsAndStaysEmpty) {
    PatchDir d;
    EXPECT_FALSE(d.patch());
    EXPECT_EQ(d.log.messages(),
              Messages{"Vexlor[patch]: generic_hmd bindings missing at " + Shown(d.file) + "\n"});
    EXPECT_TRUE(d.entries().empty());
}

TEST(PatchMissing, DirectoryNamedLikeTheFileCountsAsPresentAndFailsToParse) {
    PatchDir d;
    fs::create_directory(d.file);
    EXPECT_FALSE(d.patch());
    ASSERT_EQ(d.log.messages().size(), 1u);
    EXPECT_TRUE(HasCauseAfter(d.log.messages()[0],
                              "Vexlor[patch]: failed to parse " + Shown(d.file) + ": "));
    EXPECT_EQ(d.entries(), std::vector<std::string>{NameOf(d.file)});
}

// A status query that fails for another reason than "not found" must not be taken for a
// missing file, nor for a file that can be read.
TEST(PatchMissing, UnreadableStatusIsReportedAndNothingIsCreated) {
    if (!HavePosixFiles()) {
        GTEST_SKIP() << "symbolic links need privileges on Windows";
    }
    PatchDir d;
    ASSERT_TRUE(MakeSymlinkLoop(d.file));
    EXPECT_FALSE(d.patch());
    ASSERT_EQ(d.log.messages().size(), 1u);
    EXPECT_TRUE(
        HasCauseAfter(d.log.messages()[0], "Vexlor[patch]: cannot check " + Shown(d.file) + ": "));
    EXPECT_EQ(d.entries(), std::vector<std::string>{NameOf(d.file)});
}

TEST(PatchUnparsable, EmptyCommentedAndMalformedFilesFailWithoutBackup) {
    for (const std::string bytes :
         {"", "   \n", "// comment\n{}", "/* comment */ {\"bindings\": {}}", "{\"bindings\": }",
          "{\"bindings\": {}", "{'bindings': {}}", "nul", "\xEF\xBB\xBF"}) {
        SCOPED_TRACE(bytes);
        PatchDir d;
        WriteBytes(d.file, bytes);
        EXPECT_FALSE(d.patch());
        ASSERT_EQ(d.log.messages().size(), 1u);
        EXPECT_TRUE(HasCauseAfter(d.log.messages()[0],
                                  "Vexlor[patch]: failed to parse " + Shown(d.file) + ": "));
        ExpectRefusedUntouched(d, bytes);
    }
}

TEST(PatchUnparsable, TopLevelThatIsNotAnObjectIsLeftAloneWithoutBackup) {
    for (const std::string bytes :
         {"[]", "[{\"bindings\": {}}]", "\"text\"", "42", "-0.5", "true", "false"}) {
        SCOPED_TRACE(bytes);
        PatchDir d;
        WriteBytes(d.file, bytes);
        EXPECT_FALSE(d.patch());
        EXPECT_EQ(d.log.messages(), Messages{"Vexlor[patch]: " + Shown(d.file) +
                                             " is not a JSON object -- leaving alone\n"});
        ExpectRefusedUntouched(d, bytes);
    }
}

TEST(PatchFirst, FixtureIsPatchedExactlyAndBackedUpOnce) {
    PatchDir d;
    WriteBytes(d.file, kFixtureBytes);
    EXPECT_TRUE(d.patch());
    EXPECT_EQ(ReadBytes(d.file), kPatchedFixtureBytes);
    EXPECT_EQ(ReadBytes(d.backup), kFixtureBytes);
    EXPECT_EQ(d.log.messages(), (Messages{d.backedUp(), d.patched()}));
    EXPECT_EQ(d.entries(), (std::vector<std::string>{NameOf(d.file), NameOf(d.backup)}));
}

TEST(PatchFirst, SecondPatchReportsAlreadyPatchedAndChangesNoByte) {
    PatchDir d;
    WriteBytes(d.file, kFixtureBytes);
    ASSERT_TRUE(d.patch());
    CapturingLogger second;
    EXPECT_TRUE(PatchGenericHmdBindingsFile(d.path(), second.logger()));
    EXPECT_EQ(second.messages(), Messages{"Vexlor[patch]: generic_hmd bindings already patched\n"});
    EXPECT_EQ(ReadBytes(d.file), kPatchedFixtureBytes);
    EXPECT_EQ(ReadBytes(d.backup), kFixtureBytes);
}

TEST(PatchFirst, MarkerThatIsNotBooleanTrueIsPatchedAgain) {
    for (const std::string marker : {"false", "\"true\"", "1", "null"}) {
        SCOPED_TRACE(marker);
        PatchDir d;
        const std::string original = "{\"bindings\": {}, \"vexlor_patched_v2\": " + marker + "}";
        WriteBytes(d.file, original);
        EXPECT_TRUE(d.patch());
        EXPECT_EQ(json::parse(ReadBytes(d.file)),
                  Patched(json::object({{"bindings", json::object()}})));
        EXPECT_EQ(ReadBytes(d.backup), original);
        EXPECT_EQ(d.log.messages(), (Messages{d.backedUp(), d.patched()}));
    }
}

TEST(PatchFirst, ObjectFollowedByJunkIsPatchedAndOnlyTheBackupKeepsTheJunk) {
    PatchDir d;
    const std::string original = "{\"bindings\": {}, \"name\": \"n\"} trailing ]] junk {";
    WriteBytes(d.file, original);
    EXPECT_TRUE(d.patch());
    EXPECT_EQ(ReadBytes(d.backup), original);
    EXPECT_EQ(ReadBytes(d.file), Patched(json::parse(R"({"bindings": {}, "name": "n"})")).dump(4));
}

TEST(PatchFirst, NullDocumentBecomesBindingsAndMarker) {
    PatchDir d;
    WriteBytes(d.file, "null");
    EXPECT_TRUE(d.patch());
    EXPECT_EQ(json::parse(ReadBytes(d.file)),
              json({{"bindings", InjectedActionSets()}, {"vexlor_patched_v2", true}}));
    EXPECT_EQ(ReadBytes(d.backup), "null");
}

TEST(PatchFirst, LegacyMarkerIsRemovedAndEverythingElseIsKept) {
    PatchDir d;
    const json original = json::parse(R"({
        "bindings": {"/actions/main": {"sources": [{"mode": "button", "path": "/user/x"}]}},
        "controller_type": "generic_hmd",
        "options": {"deep": [1, 2, {"k": "v"}]},
        "vexlor_patched_v1": true
    })");
    WriteBytes(d.file, original.dump());
    EXPECT_TRUE(d.patch());
    const json result = json::parse(ReadBytes(d.file));
    EXPECT_FALSE(result.contains("vexlor_patched_v1"));
    EXPECT_EQ(result.at("bindings").at("/actions/main"), original["bindings"]["/actions/main"]);
    EXPECT_EQ(result.at("options"), original["options"]);
    EXPECT_EQ(result, Patched(original));
}

// The user (or the compositor) edits the patched file and drops the marker: the next patch
// must work on the edit, keep the backup of the very first original and keep the edit, a new
// original, as the next generation.
TEST(PatchRepeated, RepatchAfterUserEditKeepsTheFirstBackup) {
    PatchDir d;
    WriteBytes(d.file, kFixtureBytes);
    ASSERT_TRUE(d.patch());
    const std::string userEdit =
        "{\n"
        "    \"bindings\": {},\n"
        "    \"controller_type\": \"generic_hmd\",\n"
        "    \"name\": \"default generic_hmd bindings\",\n"
        "    \"user_scribbled\": \"yes\"\n"
        "}";
    ASSERT_EQ(userEdit.size(), 133u);
    WriteBytes(d.file, userEdit);
    CapturingLogger second;
    EXPECT_TRUE(PatchGenericHmdBindingsFile(d.path(), second.logger()));
    EXPECT_EQ(second.messages(), (Messages{d.newGeneration(1, 2), d.patched()}));
    EXPECT_EQ(ReadBytes(d.backup), kFixtureBytes);
    EXPECT_EQ(ReadBytes(d.generation(2)), userEdit);
    EXPECT_EQ(json::parse(ReadBytes(d.file)), Patched(json::parse(userEdit)));
}

TEST(PatchBackup, ExistingBackupIsNeverTouchedWhateverItHolds) {
    for (const std::string existing : {"", "garbage {", "{\"old\": true}"}) {
        SCOPED_TRACE(existing);
        PatchDir d;
        WriteBytes(d.file, kFixtureBytes);
        WriteBytes(d.backup, existing);
        EXPECT_TRUE(d.patch());
        EXPECT_EQ(d.log.messages(), (Messages{d.newGeneration(1, 2), d.patched()}));
        EXPECT_EQ(ReadBytes(d.backup), existing);
        EXPECT_EQ(ReadBytes(d.generation(2)), kFixtureBytes);
        EXPECT_EQ(ReadBytes(d.file), kPatchedFixtureBytes);
    }
}

TEST(PatchBackup, StaleBackupTemporaryFileIsReplacedAndGone) {
    PatchDir d;
    WriteBytes(d.file, kFixtureBytes);
    const fs::path staleBackupTemp = TempSiblingOf(d.backup);
    WriteBytes(staleBackupTemp, "STALE");
    EXPECT_TRUE(d.patch());
    EXPECT_EQ(ReadBytes(d.backup), kFixtureBytes);
    EXPECT_EQ(d.entries(), (std::vector<std::string>{NameOf(d.file), NameOf(d.backup)}));
}

// The file is replaced only once its original bytes are safe. What stands at the backup's
// temporary name is ours and cleared; what stands at the backup's own name is not, and
// blocks the patch.
TEST(PatchBackup, BlockedBackupStopsThePatchAndAStaleTemporaryNameIsCleared) {
    struct Case {
        const char* what;
        void (*plant)(const PatchDir&);
        bool patches;
    };
    const Case cases[] = {
        {"non-empty directory at the temporary name",
         [](const PatchDir& d) {
             fs::create_directory(TempSiblingOf(d.backup));
             WriteBytes(TempSiblingOf(d.backup) / "inside", "x");
         },
         false},
        {"directory at the backup's name",
         [](const PatchDir& d) { fs::create_directory(d.backup); }, false},
        {"empty directory at the temporary name",
         [](const PatchDir& d) { fs::create_directory(TempSiblingOf(d.backup)); }, true},
        {"read-only file at the temporary name",
         [](const PatchDir& d) {
             WriteBytes(TempSiblingOf(d.backup), "STALE");
             fs::permissions(TempSiblingOf(d.backup), fs::perms::owner_read);
         },
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PatchDir d;
        WriteBytes(d.file, kFixtureBytes);
        c.plant(d);
        EXPECT_EQ(d.patch(), c.patches);
        ASSERT_FALSE(d.log.messages().empty());
        if (c.patches) {
            EXPECT_EQ(d.log.messages(), (Messages{d.backedUp(), d.patched()}));
            EXPECT_EQ(ReadBytes(d.backup), kFixtureBytes);
            EXPECT_FALSE(fs::exists(TempSiblingOf(d.backup)));
        } else {
            EXPECT_TRUE(HasCauseAfter(d.log.messages()[0], "Vexlor[patch]: backup write failed: "));
            EXPECT_EQ(ReadBytes(d.file), kFixtureBytes);
        }
    }
}

TEST(PatchBackup, BackupAndPatchedFileKeepThePermissionBitsOfTheOriginal) {
    if (!HavePosixFiles()) {
        GTEST_SKIP() << "POSIX permission bits do not exist on Windows";
    }
    PatchDir d;
    WriteBytes(d.file, kFixtureBytes);
    const fs::perms mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
    fs::permissions(d.file, mode);
    ASSERT_TRUE(d.patch());
    EXPECT_EQ(PermissionBits(d.backup), mode);
    EXPECT_EQ(PermissionBits(d.file), mode);
}

// The patched file is written before the backup is made, so a write that fails leaves no
// backup of a file that was never replaced.
TEST(PatchWriteBack, FailedWriteBackReturnsFalseKeepsTheFileAndMakesNoBackup) {
    PatchDir d;
    WriteBytes(d.file, kFixtureBytes);
    fs::create_directory(d.temp);
    WriteBytes(d.temp / "inside", "x");
    EXPECT_FALSE(d.patch());
    ASSERT_EQ(d.log.messages().size(), 1u);
    EXPECT_TRUE(HasCauseAfter(d.log.messages()[0],
                              "Vexlor[patch]: tmp write failed for " + Shown(d.file) + ": "));
    EXPECT_EQ(ReadBytes(d.file), kFixtureBytes);
    EXPECT_FALSE(fs::exists(d.backup));
}

TEST(PatchLogger, EmptyLoggerGivesTheSameResults) {
    PatchDir d;
    EXPECT_FALSE(PatchGenericHmdBindingsFile(d.path(), Logger{}));
    WriteBytes(d.file, "{");
    EXPECT_FALSE(PatchGenericHmdBindingsFile(d.path(), Logger{}));
    WriteBytes(d.file, "[]");
    EXPECT_FALSE(PatchGenericHmdBindingsFile(d.path(), Logger{}));
    WriteBytes(d.file, kFixtureBytes);
    EXPECT_TRUE(PatchGenericHmdBindingsFile(d.path(), Logger{}));
    EXPECT_TRUE(PatchGenericHmdBindingsFile(d.path(), Logger{}));
    EXPECT_EQ(ReadBytes(d.file), kPatchedFixtureBytes);
}

}  // namespace
}  // namespace vexlor::testing
