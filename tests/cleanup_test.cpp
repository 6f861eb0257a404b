#include <gtest/gtest.h>

#include "bindings_fixtures.h"
#include "legacy.h"
#include "os_traps.h"
#include "test_support.h"

namespace vexlor::testing {
namespace {

namespace fs = std::filesystem;

using Messages = std::vector<std::string>;

struct LegacyDir : BindingsDir {
    CapturingLogger log;

    void cleanup() { CleanupLegacyProfiles(path(), "lighthouse_hmd", log.logger()); }
    fs::path candidate(int order) const {
        return order == 0 ? lighthouseBindings : lighthouseProfile;
    }
};

std::string Removed(const fs::path& p) {
    return "Vexlor[unpatch]: removed " + Shown(p) + "\n";
}
std::string NotOurs(const fs::path& p) {
    return "Vexlor[unpatch]: " + Shown(p) + " is not ours -- leaving alone\n";
}

TEST(LegacyCleanup, NoCandidatesNoMessages) {
    LegacyDir d;
    WriteBytes(d.dir / "unrelated.json", "{}");
    d.cleanup();
    EXPECT_TRUE(d.log.messages().empty());
    EXPECT_EQ(d.entries(), std::vector<std::string>{"unrelated.json"});
}

TEST(LegacyCleanup, EachCandidateAloneIsRemovedWhenMarkedByEitherKey) {
    for (int order : {0, 1}) {
        for (const char* marked :
             {R"({"vexlor_patched_v1": true, "controller_type": "lighthouse_hmd"})",
              R"({"vexlor_patched_v2": true})",
              R"({"vexlor_patched_v2": false, "vexlor_patched_v1": true})"}) {
            SCOPED_TRACE(std::to_string(order) + " " + marked);
            LegacyDir d;
            WriteBytes(d.candidate(order), marked);
            d.cleanup();
            EXPECT_EQ(d.log.messages(), Messages{Removed(d.candidate(order))});
            EXPECT_TRUE(d.entries().empty());
        }
    }
}

TEST(LegacyCleanup, BothMarkedAreRemovedBindingsFileFirst) {
    LegacyDir d;
    WriteBytes(d.lighthouseProfile, R"({"vexlor_patched_v1": true})");
    WriteBytes(d.lighthouseBindings, R"({"vexlor_patched_v2": true})");
    d.cleanup();
    EXPECT_EQ(d.log.messages(),
              (Messages{Removed(d.lighthouseBindings), Removed(d.lighthouseProfile)}));
    EXPECT_TRUE(d.entries().empty());
}

TEST(LegacyCleanup, MarkedValueFollowedByJunkCountsAsMarked) {
    LegacyDir d;
    WriteBytes(d.lighthouseProfile, R"({"vexlor_patched_v1": true} and then ]] junk)");
    d.cleanup();
    EXPECT_EQ(d.log.messages(), Messages{Removed(d.lighthouseProfile)});
}

TEST(LegacyCleanup, FilesWithoutATrueMarkerAreNamedAndLeftAlone) {
    for (const std::string bytes :
         {R"({"vexlor_patched_v1": "true"})", R"({"vexlor_patched_v1": 1})",
          R"({"vexlor_patched_v1": false})", R"({"vexlor_patched_v2": null})",
          R"({"vexlor_patched_v1": {"value": true}})", R"({"controller_type": "lighthouse_hmd"})",
          R"([{"vexlor_patched_v1": true}, {"vexlor_patched_v2": true}])", "true", "", "not json",
          "// {\"vexlor_patched_v1\": true}"}) {
        SCOPED_TRACE(bytes);
        LegacyDir d;
        WriteBytes(d.lighthouseBindings, bytes);
        WriteBytes(d.lighthouseProfile, bytes);
        d.cleanup();
        EXPECT_EQ(d.log.messages(),
                  (Messages{NotOurs(d.lighthouseBindings), NotOurs(d.lighthouseProfile)}));
        EXPECT_EQ(ReadBytes(d.lighthouseBindings), bytes);
        EXPECT_EQ(ReadBytes(d.lighthouseProfile), bytes);
    }
}

TEST(LegacyCleanup, UnreadableFirstCandidateDoesNotStopTheSecond) {
    LegacyDir d;
    fs::create_directory(d.lighthouseBindings);
    WriteBytes(d.lighthouseProfile, R"({"vexlor_patched_v1": true})");
    d.cleanup();
    EXPECT_EQ(d.log.messages(),
              (Messages{NotOurs(d.lighthouseBindings), Removed(d.lighthouseProfile)}));
    EXPECT_TRUE(fs::is_directory(d.lighthouseBindings));
}

// The refusal has to come from the operating system itself; an immutable file is one that
// even root cannot remove.
TEST(LegacyCleanup, RemovalRefusedBySystemIsReportedAndTheNextCandidateIsStillHandled) {
    LegacyDir d;
    WriteBytes(d.lighthouseBindings, R"({"vexlor_patched_v2": true})");
    WriteBytes(d.lighthouseProfile, R"({"vexlor_patched_v1": true})");
    ScopedImmutable pinned(d.lighthouseBindings);
    if (!pinned.available()) {
        GTEST_SKIP() << "cannot make a file immutable here (needs chattr, root and a file system "
                        "with the flag)";
    }
    d.cleanup();
    ASSERT_EQ(d.log.messages().size(), 2u);
    EXPECT_TRUE(HasCauseAfter(d.log.messages()[0], "Vexlor[unpatch]: failed to remove " +
                                                       Shown(d.lighthouseBindings) + ": "));
    EXPECT_EQ(d.log.messages()[1], Removed(d.lighthouseProfile));
    EXPECT_EQ(ReadBytes(d.lighthouseBindings), R"({"vexlor_patched_v2": true})");
}

// A status query that fails is reported rather than passed over in silence; the next
// candidate is still handled.
TEST(LegacyCleanup, UnreadableStatusIsReportedAndTheNextCandidateIsStillHandled) {
    if (!HavePosixFiles()) {
        GTEST_SKIP() << "symbolic links need privileges on Windows";
    }
    LegacyDir d;
    ASSERT_TRUE(MakeSymlinkLoop(d.lighthouseBindings));
    WriteBytes(d.lighthouseProfile, R"({"vexlor_patched_v1": true})");
    d.cleanup();
    ASSERT_EQ(d.log.messages().size(), 2u);
    EXPECT_TRUE(HasCauseAfter(d.log.messages()[0], "Vexlor[unpatch]: cannot check " +
                                                       Shown(d.lighthouseBindings) + ": "));
    EXPECT_EQ(d.log.messages()[1], Removed(d.lighthouseProfile));
    EXPECT_TRUE(fs::is_symlink(d.lighthouseBindings));
}

TEST(LegacyCleanup, OtherFilesAreNeverTouchedWhateverTheyHold) {
    LegacyDir d;
    const std::string marked = R"({"vexlor_patched_v1": true, "vexlor_patched_v2": true})";
    const char* others[] = {"vrcompositor_bindings_generic_hmd.json",
                            "vrcompositor_bindings_knuckles.json", "knuckles_profile.json",
                            "lighthouse_hmd_profile.json.bak",
                            "vrcompositor_bindings_lighthouse_hmd.json.vexlor_backup"};
    for (const char* name : others) {
        WriteBytes(d.dir / name, marked);
    }
    const auto before = d.entries();
    d.cleanup();
    EXPECT_TRUE(d.log.messages().empty());
    EXPECT_EQ(d.entries(), before);
}

TEST(LegacyCleanup, ControllerTypeNamesTheCandidates) {
    LegacyDir d;
    WriteBytes(d.dir / "vrcompositor_bindings_knuckles.json", R"({"vexlor_patched_v1": true})");
    WriteBytes(d.lighthouseProfile, R"({"vexlor_patched_v1": true})");
    CleanupLegacyProfiles(d.path(), "knuckles", d.log.logger());
    EXPECT_EQ(d.log.messages(), Messages{Removed(d.dir / "vrcompositor_bindings_knuckles.json")});
    EXPECT_EQ(d.entries(), std::vector<std::string>{NameOf(d.lighthouseProfile)});
}

TEST(LegacyCleanup, EmptyLoggerStillRemovesMarkedFiles) {
    LegacyDir d;
    WriteBytes(d.lighthouseBindings, R"({"vexlor_patched_v2": true})");
    WriteBytes(d.lighthouseProfile, "not ours");
    CleanupLegacyProfiles(d.path(), "lighthouse_hmd", Logger{});
    EXPECT_EQ(d.entries(), std::vector<std::string>{NameOf(d.lighthouseProfile)});
}

TEST(HasLegacyMarker, TrueOnlyForABooleanTrueAndNeverAddsAMember) {
    json without = {{"vexlor_patched_v2", true}, {"name", "x"}};
    const json copy = without;
    EXPECT_FALSE(HasLegacyMarker(without));
    EXPECT_EQ(without, copy);
    EXPECT_TRUE(HasLegacyMarker(json::parse(R"({"vexlor_patched_v1": true})")));
    for (const char* notMarked :
         {R"({"vexlor_patched_v1": false})", R"({"vexlor_patched_v1": "true"})",
          R"({"vexlor_patched_v1": 1})", R"([{"vexlor_patched_v1": true}])", "null", "true"}) {
        EXPECT_FALSE(HasLegacyMarker(json::parse(notMarked))) << notMarked;
    }
}

}  // namespace
}  // namespace vexlor::testing
