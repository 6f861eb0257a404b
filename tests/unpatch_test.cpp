#include <gtest/gtest.h>

#define XXH_STATIC_LINKING_ONLY  // the size of the hash state
#include <xxhash.h>

#include "bindings_fixtures.h"
#include "digest.h"
#include "digest_engine.h"
#include "os_traps.h"
#include "platform/platform.h"
#include "test_support.h"
#include "vexlor/bindings.h"

namespace vexlor::testing {
namespace {

namespace fs = std::filesystem;

using Messages = std::vector<std::string>;

const std::string kMarkedLegacy = R"({"vexlor_patched_v1": true})";

struct UnpatchDir : BindingsDir {
    CapturingLogger log;

    bool unpatch() { return UnpatchGenericHmdBindingsFile(path(), log.logger()); }
    void patchFixture() {
        WriteBytes(file, kFixtureBytes);
        ASSERT_TRUE(PatchGenericHmdBindingsFile(path(), Logger{}));
    }
    void plantMarkedLegacyFiles() {
        WriteBytes(lighthouseBindings, kMarkedLegacy);
        WriteBytes(lighthouseProfile, kMarkedLegacy);
    }
    std::string restored() const {
        return "Vexlor[unpatch]: restored " + Shown(file) + " from " + Shown(backup) + "\n";
    }
    std::string erased() const {
        return "Vexlor[unpatch]: erased Vexlor markers + bindings in " + Shown(file) + "\n";
    }
    std::string noMarker() const {
        return "Vexlor[unpatch]: " + Shown(file) + " has no Vexlor marker -- leaving alone\n";
    }
    Messages legacyRemoved() const {
        return {"Vexlor[unpatch]: removed " + Shown(lighthouseBindings) + "\n",
                "Vexlor[unpatch]: removed " + Shown(lighthouseProfile) + "\n"};
    }
};

Messages Then(Messages first, const Messages& rest) {
    first.insert(first.end(), rest.begin(), rest.end());
    return first;
}

TEST(UnpatchMissing, NothingToDoAndNothingLookedAt) {
    UnpatchDir d;
    EXPECT_TRUE(d.unpatch());
    EXPECT_EQ(d.log.messages(), Messages{"Vexlor[unpatch]: target missing at " + Shown(d.file) +
                                         " (nothing to do)\n"});
    EXPECT_TRUE(d.entries().empty());
}

TEST(UnpatchMissing, BackupAndMarkedLegacyFilesStayWhenTheTargetIsMissing) {
    UnpatchDir d;
    WriteBytes(d.backup, kFixtureBytes);
    d.plantMarkedLegacyFiles();
    const auto before = d.entries();
    EXPECT_TRUE(d.unpatch());
    EXPECT_EQ(d.log.messages().size(), 1u);
    EXPECT_EQ(d.entries(), before);
    EXPECT_EQ(ReadBytes(d.backup), kFixtureBytes);
    EXPECT_EQ(ReadBytes(d.lighthouseProfile), kMarkedLegacy);
}

// "Cannot tell" must never pass for "absent": that would report success on a patched file,
// or steer a restore into the lossy erase.
TEST(UnpatchMissing, UnreadableStatusOfTargetOrBackupFailsAndChangesNothing) {
    if (!HavePosixFiles()) {
        GTEST_SKIP() << "symbolic links need privileges on Windows";
    }
    {
        UnpatchDir d;
        ASSERT_TRUE(MakeSymlinkLoop(d.file));
        d.plantMarkedLegacyFiles();
        EXPECT_FALSE(d.unpatch());
        ASSERT_EQ(d.log.messages().size(), 1u);
        EXPECT_TRUE(HasCauseAfter(d.log.messages()[0],
                                  "Vexlor[unpatch]: cannot check " + Shown(d.file) + ": "));
        EXPECT_TRUE(fs::exists(d.lighthouseProfile));
    }
    {
        UnpatchDir d;
        d.patchFixture();
        fs::remove(d.backup);
        ASSERT_TRUE(MakeSymlinkLoop(d.backup));
        EXPECT_FALSE(d.unpatch());
        ASSERT_EQ(d.log.messages().size(), 1u);
        EXPECT_TRUE(HasCauseAfter(d.log.messages()[0],
                                  "Vexlor[unpatch]: cannot check " + Shown(d.backup) + ": "));
        EXPECT_EQ(ReadBytes(d.file), kPatchedFixtureBytes);
    }
}

TEST(UnpatchRestore, GivesBackTheOriginalBytesAndKeepsTheBackup) {
    UnpatchDir d;
    d.patchFixture();
    EXPECT_TRUE(d.unpatch());
    EXPECT_EQ(ReadBytes(d.file), kFixtureBytes);
    EXPECT_EQ(ReadBytes(d.backup), kFixtureBytes);
    EXPECT_EQ(d.log.messages(), Messages{d.restored()});
    EXPECT_EQ(d.entries(), (std::vector<std::string>{NameOf(d.file), NameOf(d.backup)}));
}

TEST(UnpatchRestore, RepeatedRestoreGivesTheSameBytesEachTime) {
    UnpatchDir d;
    d.patchFixture();
    ASSERT_TRUE(d.unpatch());
    EXPECT_TRUE(d.unpatch());
    EXPECT_EQ(d.log.messages(), (Messages{d.restored(), d.restored()}));
    EXPECT_EQ(ReadBytes(d.file), kFixtureBytes);
    EXPECT_EQ(ReadBytes(d.backup), kFixtureBytes);
}

// Whether the file is still the backup's patched form is checked on the backup's own
// document, patched and given back: the undo of a file laid out anew since takes the
// backup's values from it, and its bytes where it ends with the backup's content.
TEST(UnpatchUndo, RelaidFileTakesTheBackupsValuesWhateverItsShape) {
    const json ownSets = {{"bindings", {{"/actions/system", {{"sources", json::array()}}}}}};
    const json emptyBindings = {{"bindings", json::object()}};
    const struct {
        const char* name;
        json original;
        json undone;
    } cases[] = {
        {"own injected set", ownSets, ownSets},
        {"null document", nullptr, emptyBindings},
        {"bindings not an object", {{"bindings", "x"}}, emptyBindings},
        {"null bindings", {{"bindings", nullptr}}, emptyBindings},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        UnpatchDir d;
        WriteBytes(d.file, c.original.dump(4));
        ASSERT_TRUE(PatchGenericHmdBindingsFile(d.path(), Logger{}));
        WriteBytes(d.file, json::parse(ReadBytes(d.file)).dump(2));
        EXPECT_TRUE(d.unpatch());
        EXPECT_EQ(json::parse(ReadBytes(d.file)), c.undone);
    }
}

// A file equal to its backup comes back without the backup's document being built, unless
// its bytes may hold a marker; a marker's name written with an escape still counts.
TEST(UnpatchRestore, FileEqualToABackupCarryingAnEscapedMarkerLosesTheMarker) {
    UnpatchDir d;
    const std::string bytes = "{\"name\": \"x\", \"vexlor\\u005fpatched_v2\": true}";
    WriteBytes(d.file, bytes);
    WriteBytes(d.backup, bytes);
    EXPECT_TRUE(d.unpatch());
    EXPECT_EQ(json::parse(ReadBytes(d.file)), (json{{"name", "x"}}));
    EXPECT_EQ(ReadBytes(d.backup), bytes);
}

// Unreadable text may be someone's edit half done: it is not thrown away for the backup.
TEST(UnpatchRestore, TargetThatIsGarbageIsNotOverwritten) {
    UnpatchDir d;
    const std::string original = "{\"anything\": [1, 2, 3]}\n\n";
    WriteBytes(d.backup, original);
    WriteBytes(d.file, "garbage {{{ not json");
    EXPECT_FALSE(d.unpatch());
    ASSERT_EQ(d.log.messages().size(), 1u);
    EXPECT_TRUE(HasCauseAfter(d.log.messages()[0],
                              "Vexlor[unpatch]: failed to parse " + Shown(d.file) + ": "));
    EXPECT_EQ(ReadBytes(d.file), "garbage {{{ not json");
    EXPECT_EQ(ReadBytes(d.backup), original);
}

TEST(UnpatchRestore, StaleTemporaryFileIsConsumed) {
    UnpatchDir d;
    d.patchFixture();
    WriteBytes(d.temp, "STALE_TMP_CONTENTS");
    EXPECT_TRUE(d.unpatch());
    EXPECT_EQ(ReadBytes(d.file), kFixtureBytes);
    EXPECT_EQ(d.entries(), (std::vector<std::string>{NameOf(d.file), NameOf(d.backup)}));
}

TEST(UnpatchRestore, TargetPermissionBitsAreKept) {
    if (!HavePosixFiles()) {
        GTEST_SKIP() << "POSIX permission bits do not exist on Windows";
    }
    UnpatchDir d;
    d.patchFixture();
    const fs::perms mode = fs::perms::owner_read | fs::perms::owner_write;
    fs::permissions(d.file, mode);
    ASSERT_TRUE(d.unpatch());
    EXPECT_EQ(PermissionBits(d.file), mode);
}

TEST(UnpatchRestore, CleanupRunsAfterTheRestoreMessage) {
    UnpatchDir d;
    d.patchFixture();
    d.plantMarkedLegacyFiles();
    EXPECT_TRUE(d.unpatch());
    EXPECT_EQ(d.log.messages(), Then({d.restored()}, d.legacyRemoved()));
    EXPECT_EQ(d.entries(), (std::vector<std::string>{NameOf(d.file), NameOf(d.backup)}));
}

TEST(UnpatchRestore, FailedRestoreLeavesTargetAndBackupAndSkipsCleanup) {
    UnpatchDir d;
    d.patchFixture();
    d.plantMarkedLegacyFiles();
    // The rename cannot replace a non-empty directory, so the restore fails at its last step.
    fs::remove(d.file);
    fs::create_directory(d.file);
    WriteBytes(d.file / "inside", "kept");
    EXPECT_FALSE(d.unpatch());
    ASSERT_EQ(d.log.messages().size(), 1u);
    EXPECT_TRUE(HasCauseAfter(d.log.messages()[0],
                              "Vexlor[unpatch]: restore from " + Shown(d.backup) + " failed: "));
    EXPECT_EQ(ReadBytes(d.file / "inside"), "kept");
    EXPECT_EQ(ReadBytes(d.backup), kFixtureBytes);
    EXPECT_FALSE(fs::exists(d.temp));
    EXPECT_TRUE(fs::exists(d.lighthouseBindings));
}

TEST(UnpatchRestore, UnreadableBackupFailsTheRestore) {
    UnpatchDir d;
    WriteBytes(d.file, kPatchedFixtureBytes);
    fs::create_directory(d.backup);
    EXPECT_FALSE(d.unpatch());
    ASSERT_EQ(d.log.messages().size(), 1u);
    EXPECT_TRUE(HasCauseAfter(d.log.messages()[0],
                              "Vexlor[unpatch]: restore from " + Shown(d.backup) + " failed: "));
    EXPECT_EQ(ReadBytes(d.file), kPatchedFixtureBytes);
}

TEST(UnpatchErase, CurrentMarkerWithoutBackupGivesTheFixtureBackExactly) {
    UnpatchDir d;
    WriteBytes(d.file, kPatchedFixtureBytes);
    EXPECT_TRUE(d.unpatch());
    EXPECT_EQ(ReadBytes(d.file), kFixtureBytes);
    EXPECT_EQ(d.log.messages(), Messages{d.erased()});
    EXPECT_EQ(d.entries(), std::vector<std::string>{NameOf(d.file)});
}

TEST(UnpatchErase, LegacyMarkerAloneOrBesideAFalseCurrentMarkerCounts) {
    for (const char* markers : {R"("vexlor_patched_v1": true)",
                                R"("vexlor_patched_v1": true, "vexlor_patched_v2": false)"}) {
        SCOPED_TRACE(markers);
        UnpatchDir d;
        json doc = json::parse(kPatchedFixtureBytes);
        doc.erase("vexlor_patched_v2");
        std::string bytes = doc.dump();
        bytes.insert(1, std::string(markers) + ",");
        WriteBytes(d.file, bytes);
        EXPECT_TRUE(d.unpatch());
        EXPECT_EQ(ReadBytes(d.file), kFixtureBytes);
        EXPECT_EQ(d.log.messages(), Messages{d.erased()});
    }
}

TEST(UnpatchErase, OnlyTheInjectedActionSetsGoOtherContentStays) {
    UnpatchDir d;
    json doc = json::parse(kPatchedFixtureBytes);
    doc["bindings"]["/actions/main"] = {{"sources", json::array()}};
    doc["options"] = {{"k", "v"}};
    WriteBytes(d.file, doc.dump(4));
    EXPECT_TRUE(d.unpatch());
    EXPECT_EQ(json::parse(ReadBytes(d.file)),
              json::parse(R"({"bindings": {"/actions/main": {"sources": []}},
                              "controller_type": "generic_hmd",
                              "name": "default generic_hmd bindings",
                              "options": {"k": "v"}})"));
}

TEST(UnpatchErase, WithoutAnObjectBindingsOnlyTheMarkersGo) {
    const std::pair<std::string, std::string> cases[] = {
        {R"({"vexlor_patched_v2": true, "x": 1})", "{\n    \"x\": 1\n}"},
        {R"({"bindings": [1, "/actions/system"], "vexlor_patched_v1": true})",
         "{\n    \"bindings\": [\n        1,\n        \"/actions/system\"\n    ]\n}"},
        {R"({"bindings": "/actions/lasermouse", "vexlor_patched_v2": true})",
         "{\n    \"bindings\": \"/actions/lasermouse\"\n}"},
    };
    for (const auto& [before, after] : cases) {
        SCOPED_TRACE(before);
        UnpatchDir d;
        WriteBytes(d.file, before);
        EXPECT_TRUE(d.unpatch());
        EXPECT_EQ(ReadBytes(d.file), after);
        EXPECT_EQ(d.log.messages(), Messages{d.erased()});
    }
}

TEST(UnpatchErase, JunkAfterTheMarkedValueIsDropped) {
    UnpatchDir d;
    WriteBytes(d.file, kPatchedFixtureBytes + "\n}}} trailing junk");
    EXPECT_TRUE(d.unpatch());
    EXPECT_EQ(ReadBytes(d.file), kFixtureBytes);
}

TEST(UnpatchErase, SecondUnpatchFindsNoMarkerAndLeavesTheFileAlone) {
    UnpatchDir d;
    WriteBytes(d.file, kPatchedFixtureBytes);
    ASSERT_TRUE(d.unpatch());
    CapturingLogger second;
    EXPECT_TRUE(UnpatchGenericHmdBindingsFile(d.path(), second.logger()));
    EXPECT_EQ(second.messages(), Messages{d.noMarker()});
    EXPECT_EQ(ReadBytes(d.file), kFixtureBytes);
}

TEST(UnpatchErase, CleanupRunsAfterTheEraseMessage) {
    UnpatchDir d;
    WriteBytes(d.file, kPatchedFixtureBytes);
    d.plantMarkedLegacyFiles();
    EXPECT_TRUE(d.unpatch());
    EXPECT_EQ(d.log.messages(), Then({d.erased()}, d.legacyRemoved()));
    EXPECT_EQ(d.entries(), std::vector<std::string>{NameOf(d.file)});
}

TEST(UnpatchErase, FailedWriteBackKeepsTheFileAndSkipsCleanup) {
    UnpatchDir d;
    WriteBytes(d.file, kPatchedFixtureBytes);
    d.plantMarkedLegacyFiles();
    fs::create_directory(d.temp);
    WriteBytes(d.temp / "inside", "x");
    EXPECT_FALSE(d.unpatch());
    ASSERT_EQ(d.log.messages().size(), 1u);
    EXPECT_TRUE(HasCauseAfter(d.log.messages()[0],
                              "Vexlor[patch]: tmp write failed for " + Shown(d.file) + ": "));
    EXPECT_EQ(ReadBytes(d.file), kPatchedFixtureBytes);
    EXPECT_TRUE(fs::exists(d.lighthouseBindings));
    EXPECT_TRUE(fs::exists(d.lighthouseProfile));
}

TEST(UnpatchNotOurs, FileWithoutATrueMarkerIsLeftAloneAndCleanupDoesNotRun) {
    for (const std::string& bytes :
         {kFixtureBytes, std::string(R"({"vexlor_patched_v2": false, "bindings": {}})"),
          std::string(R"({"vexlor_patched_v2": "true", "vexlor_patched_v1": "true"})"),
          std::string(R"({"vexlor_patched_v1": 1})"),
          std::string(R"([{"vexlor_patched_v2": true}])"), std::string("null"),
          std::string("\"vexlor_patched_v2\"")}) {
        SCOPED_TRACE(bytes);
        UnpatchDir d;
        WriteBytes(d.file, bytes);
        d.plantMarkedLegacyFiles();
        EXPECT_TRUE(d.unpatch());
        EXPECT_EQ(d.log.messages(), Messages{d.noMarker()});
        EXPECT_EQ(ReadBytes(d.file), bytes);
        EXPECT_TRUE(fs::exists(d.lighthouseBindings));
        EXPECT_TRUE(fs::exists(d.lighthouseProfile));
    }
}

TEST(UnpatchNotOurs, UnparsableTargetWithoutBackupFails) {
    for (const std::string bytes : {"", "{\"vexlor_patched_v2\": true", "// c\n{}"}) {
        SCOPED_TRACE(bytes);
        UnpatchDir d;
        WriteBytes(d.file, bytes);
        d.plantMarkedLegacyFiles();
        EXPECT_FALSE(d.unpatch());
        ASSERT_EQ(d.log.messages().size(), 1u);
        EXPECT_TRUE(HasCauseAfter(d.log.messages()[0],
                                  "Vexlor[unpatch]: failed to parse " + Shown(d.file) + ": "));
        EXPECT_EQ(ReadBytes(d.file), bytes);
        EXPECT_TRUE(fs::exists(d.lighthouseProfile));
    }
}

TEST(UnpatchLogger, EmptyLoggerGivesTheSameResults) {
    UnpatchDir d;
    EXPECT_TRUE(UnpatchGenericHmdBindingsFile(d.path(), Logger{}));
    WriteBytes(d.file, "{");
    EXPECT_FALSE(UnpatchGenericHmdBindingsFile(d.path(), Logger{}));
    WriteBytes(d.file, kPatchedFixtureBytes);
    d.plantMarkedLegacyFiles();
    EXPECT_TRUE(UnpatchGenericHmdBindingsFile(d.path(), Logger{}));
    EXPECT_EQ(ReadBytes(d.file), kFixtureBytes);
    EXPECT_EQ(d.entries(), std::vector<std::string>{NameOf(d.file)});
}

// The note a backup carries of its patch only saves work: whatever became of it, the file comes
// back from the backup while it is the backup's patch, and an edit made since is kept. A note
// that would take the edited file for the patch, but is of another backup or another patch,
// must not be believed.
ContentDigest DigestOf(std::string_view bytes) {
    DigestBuilder digest;
    digest.Add(bytes);
    return digest.Finish();
}

TEST(UnpatchNote, DecidesAsTheFileDoesWhateverBecameOfTheNote) {
    const std::string edited =
        "{\"user_setting\": 1," + kPatchedFixtureBytes.substr(kPatchedFixtureBytes.find('{') + 1);
    std::string ofAnotherPatch = NoteText({kFixtureBytes.size(), DigestOf(edited), false});
    ofAnotherPatch.replace(0, std::string(kMarkerKey).size(), kLegacyMarkerKey);
    const std::string notes[] = {
        "",  // as the patch left it
        " ",
        "vexlor_patched_v2 16 1640 not-a-digest 0\n",
        NoteText({kFixtureBytes.size() + 1, DigestOf(edited), false}),
        ofAnotherPatch,
    };
    for (const std::string& note : notes) {
        for (const bool edit : {false, true}) {
            UnpatchDir d;
            d.patchFixture();
            ASSERT_EQ(ReadBytes(d.file), kPatchedFixtureBytes);
            if (!note.empty()) {
                platform::WriteFileNote(d.backup, note);
            }
            if (edit) {
                WriteBytes(d.file, edited);
            }
            ASSERT_TRUE(d.unpatch()) << note;
            const std::string after = ReadBytes(d.file);
            EXPECT_EQ(after == kFixtureBytes, !edit) << note << after;
            EXPECT_EQ(after.find("user_setting") != std::string::npos, edit) << note << after;
            EXPECT_EQ(after.find(kMarkerKey), std::string::npos) << note << after;
        }
    }
    // A file an older release patched is backed up with that patch in it; the note says so,
    // and the restore takes it out of the backup's bytes too.
    UnpatchDir d;
    WriteBytes(d.file, R"({"vexlor_patched_v1": true, "kept": 1})");
    ASSERT_TRUE(PatchGenericHmdBindingsFile(d.path(), Logger{}));
    ASSERT_TRUE(d.unpatch());
    EXPECT_EQ(ReadBytes(d.file).find("vexlor_patched"), std::string::npos) << ReadBytes(d.file);
}

// A note made on one processor is read on another: the hash must not depend on which engine
// made it, nor on the pieces the bytes came in.
TEST(UnpatchNote, EveryEngineAndEveryCutHashesAlike) {
    std::string bytes;
    for (std::size_t i = 0; bytes.size() < 300000; ++i) {
        bytes += std::to_string(i * 2654435761u) + ",";
    }
    std::vector<HashEngine> engines = {PortableHashEngine()};
    if (__builtin_cpu_supports("avx2")) {
        engines.push_back(Avx2HashEngine());
    }
    for (const std::size_t size : {0, 1, 16, 17, 128, 129, 240, 241, 1024, 65543, 300000}) {
        const std::string_view whole(bytes.data(), size);
        const ContentDigest expected = DigestOf(whole);
        for (const std::size_t piece : {std::size_t{1}, std::size_t{7}, std::size_t{65536}}) {
            for (const HashEngine& engine : engines) {
                alignas(64) XXH3_state_t state;
                engine.reset(&state);
                for (std::size_t at = 0; at < size; at += piece) {
                    engine.update(&state, whole.data() + at, std::min(piece, size - at));
                }
                ContentDigest digest{size, 0, 0};
                engine.finish(&state, &digest.high, &digest.low);
                EXPECT_TRUE(digest == expected) << size << " in pieces of " << piece;
            }
        }
    }
}

}  // namespace
}  // namespace vexlor::testing
