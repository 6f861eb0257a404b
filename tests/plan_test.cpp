// A plan and the run it foresees, over every case the plans tell apart: the run must reach
// the plan's decision and failure kind and change exactly the files and the parts of the
// bindings file the plan names.
#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "bindings_fixtures.h"
#include "json_file.h"
#include "os_traps.h"
#include "test_support.h"
#include "vexlor/bindings.h"

namespace vexlor::testing {
namespace {

using Files = std::map<std::string, std::string>;  // name -> bytes
using Facts = std::vector<std::string>;            // "make <name>", "add <set>", ...

const std::string kFile = kBindingsFileName;
const std::string kBackup = kFile + kBackupSuffix;
const std::string kCleanupNote = kFile + ".vexlor_cleanup";
const std::string kProfile = kLegacyProfileFileNames[1];
const std::string kMarkedProfile = R"({"vexlor_patched_v1": true})";

// Each file's bytes; a large one's size and the time it was written, which is cheaper to
// compare and changes as surely.
Files Snapshot(const fs::path& dir) {
    Files files;
    for (const std::string& name : ListDir(dir)) {
        const fs::path path = dir / name;
        const std::uintmax_t size = fs::file_size(path);
        files[name] =
            size < (1u << 20)
                ? ReadBytes(path)
                : std::to_string(size) + " bytes written at " +
                      std::to_string(fs::last_write_time(path).time_since_epoch().count());
    }
    return files;
}

std::string Failed(FailureKind kind) {
    return "fail, kind " + std::to_string(static_cast<int>(kind));
}

std::string FileName(const std::string& path) {
    return fs::u8path(path).filename().u8string();
}

void Add(Facts& facts, const std::string& verb, const std::vector<std::string>& items) {
    for (const std::string& item : items) {
        facts.push_back(verb + " " + item);
    }
}

Facts Sorted(Facts facts) {
    std::sort(facts.begin(), facts.end());
    return facts;
}

Facts PlanFacts(const PatchPlan& plan) {
    if (plan.decision != PatchDecision::kPatch) {
        return plan.decision == PatchDecision::kWouldFail ? Facts{Failed(plan.failure)} : Facts{};
    }
    Facts facts{"write " + kFile};
    if (!plan.backupToMake.empty()) {
        facts.push_back("make " + FileName(plan.backupToMake));
    }
    Add(facts, "add", plan.addedActionSets);
    Add(facts, "replace", plan.replacedActionSets);
    Add(facts, "remove", plan.removedMarkers);
    return facts;
}

// A copy kept before an undo that is there already is not made again.
Facts PlanFacts(const UnpatchPlan& plan, const Files& before) {
    Facts facts;
    if (plan.decision == UnpatchDecision::kWouldFail) {
        return {Failed(plan.failure)};
    }
    if (plan.decision == UnpatchDecision::kRestore ||
        plan.decision == UnpatchDecision::kUndoInPlace) {
        facts.push_back("write " + kFile);
    }
    if (!plan.copyBeforeUndo.empty() && before.count(FileName(plan.copyBeforeUndo)) == 0) {
        facts.push_back("make " + FileName(plan.copyBeforeUndo));
    }
    Add(facts, "restore", plan.restoredActionSets);
    Add(facts, "remove", plan.removedActionSets);
    Add(facts, "remove", plan.removedMarkers);
    Add(facts, "delete", plan.removedLegacyProfiles);
    return facts;
}

const json* ActionSet(const json& doc, const char* name) {
    const auto bindings = doc.find("bindings");
    if (!doc.is_object() || bindings == doc.end() || !bindings->contains(name)) {
        return nullptr;
    }
    return &bindings->at(name);
}

// What a rewrite did to the injected action sets and the markers, in a plan's words. An undo
// passes the document it goes back to as `original` (null without a backup) and restores a
// set only to the value that gives it; a patch passes nullptr.
void AddContentFacts(const json& was, const json& is, const json* original, Facts& facts) {
    for (const char* name : kInjectedActionSets) {
        const json* before = ActionSet(was, name);
        const json* after = ActionSet(is, name);
        const json* kept = original != nullptr ? ActionSet(*original, name) : nullptr;
        if (after != nullptr && original == nullptr) {
            facts.push_back(std::string(before != nullptr ? "replace " : "add ") + name);
        } else if (after != nullptr) {
            facts.push_back(std::string(kept && *kept == *after ? "restore " : "keep ") + name);
        } else if (before != nullptr) {
            facts.push_back(std::string("remove ") + name);
        }
    }
    for (const char* marker : {kMarkerKey, kLegacyMarkerKey}) {
        if (was.contains(marker) && !is.contains(marker)) {
            facts.push_back(std::string("remove ") + marker);
        }
    }
}

// What the run changed among the files, in a plan's words. A cleanup note that goes is
// internal bookkeeping; one that is left is a file the plan did not name.
Facts FileFacts(bool ok, FailureKind failure, const Files& before, const Files& after) {
    Facts facts;
    if (!ok) {
        facts.push_back(Failed(failure));
    }
    for (const auto& [name, bytes] : after) {
        const auto old = before.find(name);
        if (old == before.end() || old->second != bytes) {
            facts.push_back((old == before.end() ? "make " : "write ") + name);
        }
    }
    for (const auto& [name, bytes] : before) {
        if (after.count(name) == 0 && name != kCleanupNote) {
            facts.push_back("delete " + name);
        }
    }
    return facts;
}

enum class Trap { kNone, kOverSizeLimit, kOverWriteLimit, kImmutable };

template <typename Decision>
struct Outcome {
    Decision decision;
    FailureKind failure = FailureKind::kNone;
};

struct Case {
    const char* what;
    Files files;
    Outcome<PatchDecision> patch;
    Outcome<UnpatchDecision> unpatch;
    Trap trap = Trap::kNone;
};

std::vector<Case> Cases() {
    const std::string setInBackup = R"({"bindings": {"/actions/system": {"sources": []}}})";
    json edited = Patched(json::parse(setInBackup));
    edited["mine"] = 1;
    json markerLost = json::parse(kPatchedFixtureBytes);
    markerLost.erase(kMarkerKey);
    const std::string olderRelease =
        R"({"bindings": {"/actions/system": 1}, "vexlor_patched_v1": true})";
    const std::string changed = R"({"mine": 2, "vexlor_patched_v2": true})";
    const std::string edits = R"({"bindings": {"/actions/system": 5}, "vexlor_patched_v2": true})";
    Files allGenerations = {{kFile, kFixtureBytes}};
    for (int n = 1; n <= kMaxGenerations; ++n) {
        allGenerations[n == 1 ? kBackup : kBackup + "." + std::to_string(n)] = "{}";
    }
    using P = PatchDecision;
    using U = UnpatchDecision;
    using K = FailureKind;
    return {
        {"an original", {{kFile, kFixtureBytes}}, {P::kPatch}, {U::kLeaveAlone}},
        {"patched, with a backup and legacy profiles, one ours",
         {{kFile, kPatchedFixtureBytes},
          {kBackup, kFixtureBytes},
          {kProfile, kMarkedProfile},
          {kLegacyProfileFileNames[0], "{}"}},
         {P::kAlreadyPatched},
         {U::kRestore}},
        {"changed since the patch, its backup holding an injected set",
         {{kFile, edited.dump(4)}, {kBackup, setInBackup}, {kProfile, kMarkedProfile}},
         {P::kAlreadyPatched},
         {U::kUndoInPlace}},
        {"not ours, a cleanup owed",
         {{kFile, kFixtureBytes}, {kProfile, kMarkedProfile}, {kCleanupNote, ""}},
         {P::kPatch},
         {U::kLeaveAlone}},
        {"rewritten by the runtime since its backup",
         {{kFile, R"({"bindings": {}, "name": "new"})"}, {kBackup, kFixtureBytes}},
         {P::kPatch},
         {U::kLeaveAlone}},
        {"rewritten with every backup generation kept already",
         allGenerations,
         {P::kWouldFail, K::kBackupFailed},
         {U::kLeaveAlone}},
        {"patched, its marker lost",
         {{kFile, markerLost.dump(4)}, {kBackup, kFixtureBytes}},
         {P::kPatch},
         {U::kUndoInPlace}},
        {"patched by the older release, then edited",
         {{kFile, olderRelease}},
         {P::kPatch},
         {U::kUndoInPlace}},
        {"patched, restored from the newest of its backups",
         {{kFile, kPatchedFixtureBytes}, {kBackup, "{}"}, {kBackup + ".2", kFixtureBytes}},
         {P::kAlreadyPatched},
         {U::kRestore}},
        {"changed since the patch, its backup patched by the older release",
         {{kFile, changed}, {kBackup, olderRelease}},
         {P::kAlreadyPatched},
         {U::kUndoInPlace}},
        {"changed since the patch, its backup unparsable",
         {{kFile, changed}, {kBackup, "{"}},
         {P::kAlreadyPatched},
         {U::kWouldFail, K::kBackupUnparsable}},
        {"edited inside an injected set, its copy kept already",
         {{kFile, edits}, {kFile + kBeforeUndoSuffix, edits}},
         {P::kAlreadyPatched},
         {U::kUndoInPlace}},
        {"missing", {}, {P::kWouldFail, K::kMissing}, {U::kNothingToDo}},
        {"not JSON",
         {{kFile, "{\"a\":"}},
         {P::kWouldFail, K::kNotJson},
         {U::kWouldFail, K::kNotJson}},
        {"an array", {{kFile, "[1]"}}, {P::kWouldFail, K::kNotObject}, {U::kLeaveAlone}},
        {"over the size limit",
         {{kFile, "{}"}},
         {P::kWouldFail, K::kTooLarge},
         {U::kWouldFail, K::kTooLarge},
         Trap::kOverSizeLimit},
        {"read, but over the write limit once patched",
         {},
         {P::kWouldFail, K::kTooLarge},
         {U::kLeaveAlone},
         Trap::kOverWriteLimit},
        {"patched, immutable, with a legacy profile",
         {{kFile, kPatchedFixtureBytes}, {kProfile, kMarkedProfile}},
         {P::kAlreadyPatched},
         {U::kWouldFail, K::kReadOnly},
         Trap::kImmutable},
    };
}

// Sets the case's trap on `d`; false, with the reason, where it cannot be set here.
const char* SetTrap(Trap trap, BindingsDir& d, std::optional<ScopedImmutable>& immutable) {
    if (trap == Trap::kOverSizeLimit) {
        fs::resize_file(d.file, kMaxFileBytes + 1);  // sparse: costs no disk and no time
    } else if (trap == Trap::kOverWriteLimit) {
        if (const char* why = WhyNoLargeFilesHere()) {
            return why;
        }
        // Short strings nested 50 deep, each of which grows thirteen times over when written
        // out: about 6 MiB, just within what may be read, that would be written as 68 MiB.
        std::string strings = "\"aaaaaaaaaaaaaaaa\"";
        for (int i = 1; i < 320000; ++i) {
            strings += ",\"aaaaaaaaaaaaaaaa\"";
        }
        WriteBytes(d.file, R"({"bindings":{},"deep":)" + std::string(50, '[') + strings +
                               std::string(50, ']') + "}");
    } else if (trap == Trap::kImmutable && !immutable.emplace(d.file).available()) {
        return "chattr +i is not available here";
    }
    return nullptr;
}

TEST(Plans, NameTheDecisionFilesAndFailureKindOfTheRealRun) {
    for (const Case& c : Cases()) {
        for (const bool patch : {true, false}) {
            SCOPED_TRACE(std::string(c.what) + (patch ? ", patch" : ", unpatch"));
            BindingsDir d;
            for (const auto& [name, bytes] : c.files) {
                WriteBytes(d.dir / name, bytes);
            }
            std::optional<ScopedImmutable> immutable;
            if (const char* why = SetTrap(c.trap, d, immutable)) {
                std::cout << "skipped: " << why << "\n";
                continue;
            }
            const Files before = Snapshot(d.path());
            Facts planned;
            std::optional<json> original;  // the backup an undo in place goes back to
            bool restores = false;
            std::string restoredBytes;  // a restore of a backup that carries no patch: its bytes
            if (patch) {
                const PatchPlan plan = PlanPatchGenericHmdBindingsFile(d.path());
                EXPECT_EQ(plan.decision, c.patch.decision);
                EXPECT_EQ(plan.failure, c.patch.failure);
                planned = PlanFacts(plan);
            } else {
                const UnpatchPlan plan = PlanUnpatchGenericHmdBindingsFile(d.path());
                EXPECT_EQ(plan.decision, c.unpatch.decision);
                EXPECT_EQ(plan.failure, c.unpatch.failure);
                planned = PlanFacts(plan, before);
                restores = plan.decision == UnpatchDecision::kRestore;
                if (restores && plan.backupMarker.empty()) {
                    restoredBytes = before.at(FileName(plan.backup));
                }
                if (plan.decision == UnpatchDecision::kUndoInPlace) {
                    original = plan.backup.empty() ? json()
                                                   : json::parse(before.at(FileName(plan.backup)));
                }
            }
            EXPECT_TRUE(Snapshot(d.path()) == before) << "the plan changed a file";

            FailureKind failure = FailureKind::kOther;
            const bool ok = patch ? PatchGenericHmdBindingsFile(d.path(), Logger{}, failure)
                                  : UnpatchGenericHmdBindingsFile(d.path(), Logger{}, failure);
            const Files after = Snapshot(d.path());
            Facts done = FileFacts(ok, failure, before, after);
            const bool rewritten = ok && before.count(kFile) && after.count(kFile) &&
                                   before.at(kFile) != after.at(kFile);
            if (rewritten && restores) {
                EXPECT_TRUE(restoredBytes.empty() || after.at(kFile) == restoredBytes);
            } else if (rewritten) {
                AddContentFacts(json::parse(before.at(kFile)), json::parse(after.at(kFile)),
                                original ? &*original : nullptr, done);
            }
            EXPECT_EQ(Sorted(planned), Sorted(done));
        }
    }
}

}  // namespace
}  // namespace vexlor::testing
