#include "patch.h"

#include <algorithm>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "digest.h"
#include "dir_lock.h"
#include "file_ops.h"
#include "inject.h"
#include "json_file.h"
#include "kept_files.h"
#include "legacy.h"
#include "platform/platform.h"
#include "retry.h"
#include "write_back.h"

namespace vexlor {

namespace {

// What a patch does about the backups before the file is replaced.
struct BackupStep {
    fs::path make;    // the backup to write now; empty when none is to be made
    fs::path kept;    // with a newer original: the newest backup, kept as it is
    fs::path newest;  // the newest backup there already, if any
};

// Finds which backup the file's bytes call for: the first one, none (the newest backup holds
// these very bytes, or they are our own patch without its marker), or the next generation,
// when the runtime has rewritten the file since the newest backup was made. Fails when the
// backups cannot be examined or no more may be made.
Status findBackupStep(const fs::path& file, const fs::path& dir, const std::string& bytes,
                      bool markerMissing, BackupStep& step) {
    const fs::path first = SiblingPath(file, kBackupSuffix);
    Generations found;
    if (Status look = FindGenerations(first, dir, FailureKind::kBackupFailed, found); !look.ok()) {
        return look;
    }
    step.newest = found.newestPath();
    if (markerMissing) {
        return {};  // those bytes are the patch's own work, not an original
    }
    if (found.present.empty()) {
        step.make = first;
        return {};
    }
    std::string newestBytes;
    if (std::error_code ec = platform::ReadWholeFile(step.newest, kMaxFileBytes, newestBytes)) {
        return Status::FromSystem(
            ec, FailureKind::kNotReadable, FailureKind::kBackupFailed,
            "cannot read " + platform::DisplayPath(step.newest) + ": " + platform::ErrorText(ec));
    }
    if (newestBytes != bytes) {
        step.kept = step.newest;
        return NextGeneration(first, found, FailureKind::kBackupFailed, step.make);
    }
    return {};
}

Status decideBackup(const fs::path& file, const fs::path& dir, const std::string& bytes,
                    bool markerMissing, BackupStep& step) {
    return findBackupStep(file, dir, bytes, markerMissing, step).Prefixed("backup write failed: ");
}

// The file is replaced only once its original bytes are safe: in a backup already in place,
// or in one made now. A backup temporary file an interrupted run left once the backup exists
// would otherwise stay for good. A backup made now is of the very bytes just patched, and
// `note` tells what their patch is.
Status applyBackup(const BackupStep& step, const fs::path& model, const std::string& bytes,
                   std::string_view note, const OperationLog& log) {
    if (step.make.empty()) {
        if (!step.newest.empty()) {
            ClearKeptFileLeftover(step.newest, log);
        }
        return {};
    }
    if (Status kept = KeepFile(step.make, bytes, model, FailureKind::kBackupFailed, log, note);
        !kept.ok()) {
        return kept.Prefixed("backup write failed: ");
    }
    log.Wrote(step.make);
    const std::string made = platform::DisplayPath(step.make);
    if (step.kept.empty()) {
        log.Say("backed up original to %s\n", made.c_str());
    } else {
        log.Say(
            "the file changed since its last backup; kept %s and backed up the new original "
            "to %s\n",
            platform::DisplayPath(step.kept).c_str(), made.c_str());
    }
    return {};
}

// Whether the bytes hold the marker's name as a patch writes it. Only then is a validating
// read worth making before the document is built: a file already patched is decided without
// building anything, and a file to patch is parsed once. A name written with escapes is not
// seen here, and the built document finds it.
bool mayCarryMarker(const std::string& bytes) {
    const std::string_view name = kMarkerKey;
    const std::boyer_moore_horspool_searcher searcher(name.begin(), name.end());
    return std::search(bytes.begin(), bytes.end(), searcher) != bytes.end();
}

// Reads the file and tells whether it is already patched, building the document only when it
// is not; fails for a file that cannot be read or parsed.
Status readForPatch(const fs::path& target, const std::string& fileText, JsonFile& file,
                    bool& alreadyPatched) {
    alreadyPatched = false;
    if (Status read = ReadForParsing(target, fileText, file.bytes); !read.ok()) {
        return read;
    }
    Status parse;
    if (mayCarryMarker(file.bytes)) {
        DocumentOutline outline;
        parse = ScanJsonText(file.bytes, MarkerKeys(), outline);
        alreadyPatched = parse.ok() && HasMarker(outline, kMarkerKey);
    }
    if (parse.ok() && !alreadyPatched) {
        parse = ParseJsonText(file.bytes, file.document);
        alreadyPatched = parse.ok() && HasMarker(file.document, kMarkerKey);
    }
    return parse.Prefixed("failed to parse " + fileText + ": ");
}

// Finds the bindings file and where its bytes live; fails when there is none to patch.
Status locateBindingsFile(const fs::path& dir, const fs::path& file, fs::path& target) {
    FilePresence presence = FilePresence::kUnknown;
    if (Status look = LookFor(file, presence); !look.ok()) {
        return look;
    }
    if (presence == FilePresence::kAbsent) {
        return Status::Failed(FailureKind::kMissing,
                              "generic_hmd bindings missing at " + platform::DisplayPath(file));
    }
    return ResolveWriteTarget(file, dir, target);
}

// Everything a patch settles before it writes anything; the plan shows the same facts.
struct Prepared {
    fs::path target;
    JsonFile read;  // `read.document` is patched in place
    bool alreadyPatched = false;
    bool markerMissing = false;  // the patch's action sets are there, its marker is not
    std::vector<bool> setHeld;   // per kInjectedActionSets: the file held it before the patch
    bool heldLegacyMarker = false;
    bool carriedMarker = false;  // the file was patched already, by an older release
};

void recordWhatChanges(const nlohmann::json& doc, Prepared& p) {
    const auto bindings = doc.is_object() ? doc.find(kBindingsKey) : doc.end();
    const bool hasBindings = doc.is_object() && bindings != doc.end() && bindings->is_object();
    for (const char* actionSet : kInjectedActionSets) {
        p.setHeld.push_back(hasBindings && bindings->contains(actionSet));
    }
    p.heldLegacyMarker = doc.is_object() && doc.contains(kLegacyMarkerKey);
}

// Reads the file, makes its patched form and checks it may be replaced; fails for a file the
// patch leaves alone or cannot write.
Status preparePatch(const fs::path& dir, const fs::path& file, Prepared& p) {
    const std::string fileText = platform::DisplayPath(file);
    if (Status located = locateBindingsFile(dir, file, p.target); !located.ok()) {
        return located;
    }
    if (Status read = readForPatch(p.target, fileText, p.read, p.alreadyPatched); !read.ok()) {
        return read;
    }
    if (p.alreadyPatched) {
        return {};
    }
    nlohmann::json& doc = p.read.document;
    if (!doc.is_object() && !doc.is_null()) {
        return Status::Failed(FailureKind::kNotObject,
                              fileText + " is not a JSON object -- leaving alone");
    }
    recordWhatChanges(doc, p);
    p.carriedMarker = CarriedMarker(doc) != nullptr;
    p.markerMissing = HoldsInjectedActionSets(doc);
    InjectBindings(doc);
    // Refused before anything is written, so that a patch that cannot be written changes
    // nothing.
    return MayReplace(p.target).Prefixed("cannot replace " + fileText + ": ");
}

// The patched file is written before the backup is made: a document that cannot be written
// (too large, say) is refused without leaving a backup behind, and the file is still replaced
// only once its original bytes are safe. A backup made then is noted with what was written.
ReplaceResult replaceWithPatch(const fs::path& dir, const fs::path& file, Prepared& p,
                               const OperationLog& log) {
    DigestBuilder patched;
    return ReplaceFileContents(
        p.target, HashedWhileWritten(StreamedJson(p.read.document), patched), &p.read.bytes, [&] {
            // Written out, the document is let go before the target is read once more for
            // the check before the rename: the two never take memory at the same time.
            p.read.document = nlohmann::json();
            BackupStep step;
            const Status decided = decideBackup(file, dir, p.read.bytes, p.markerMissing, step);
            const std::string note =
                NoteText({p.read.bytes.size(), patched.Finish(), p.carriedMarker});
            return decided.ok() ? applyBackup(step, p.target, p.read.bytes, note, log) : decided;
        });
}

Status patchOnce(const fs::path& dir, const OperationLog& log) {
    const fs::path file = dir / kBindingsFileName;
    Prepared p;
    if (Status prepared = preparePatch(dir, file, p); !prepared.ok()) {
        return prepared;
    }
    if (p.alreadyPatched) {
        log.Say("generic_hmd bindings already patched\n");
        log.Did("already_patched");
        return {};
    }
    if (const std::string otherNames = OtherNamesWarning(p.target, log); !otherNames.empty()) {
        LogFormatted(log.sink(), "%s", otherNames.c_str());
    }
    const std::string fileText = platform::DisplayPath(file);
    if (p.markerMissing) {
        log.Say(
            "%s holds the patch's action sets without its marker; putting the marker back, "
            "with no new backup\n",
            fileText.c_str());
    }
    const ReplaceResult written = replaceWithPatch(dir, file, p, log);
    if (Status reported = ReportWriteBack(written, p.target, log); !reported.ok()) {
        return reported;
    }
    log.Wrote(file);
    log.Did("patched");
    log.Say("patched %s\n", fileText.c_str());
    return {};
}

// The limit the write-back holds the patched document to, checked as the write would.
Status fitsWriteLimit(const Prepared& p) {
    return CheckSerializable(p.read.document)
        .Prefixed("tmp write failed for " + platform::DisplayPath(p.target) + ": ");
}

void planChanges(const Prepared& p, PatchPlan& plan) {
    for (std::size_t i = 0; i < p.setHeld.size(); ++i) {
        (p.setHeld[i] ? plan.replacedActionSets : plan.addedActionSets)
            .push_back(kInjectedActionSets[i]);
    }
    if (p.heldLegacyMarker) {
        plan.removedMarkers.push_back(kLegacyMarkerKey);
    }
}

// Fills in what a patch of the directory would do, or fails as the patch would.
Status planPatch(const fs::path& bindingsDir, const OperationLog& log, PatchPlan& plan) {
    const fs::path file = bindingsDir / kBindingsFileName;
    Prepared p;
    Status status = ProbeForPlan(bindingsDir, log, plan.warnings);
    if (status.ok()) {
        status = preparePatch(bindingsDir, file, p);
    }
    if (status.ok() && p.alreadyPatched) {
        plan.decision = PatchDecision::kAlreadyPatched;
        return status;
    }
    BackupStep step;
    if (status.ok()) {
        status = fitsWriteLimit(p);
    }
    if (status.ok()) {
        status = decideBackup(file, bindingsDir, p.read.bytes, p.markerMissing, step);
    }
    if (!status.ok()) {
        return status;
    }
    plan.backupToMake = step.make.empty() ? "" : platform::DisplayPath(step.make);
    plan.backupKept = step.kept.empty() ? "" : platform::DisplayPath(step.kept);
    plan.markerMissing = p.markerMissing;
    plan.decision = PatchDecision::kPatch;
    planChanges(p, plan);
    if (std::string otherNames = OtherNamesWarning(p.target, log); !otherNames.empty()) {
        plan.warnings.push_back(std::move(otherNames));
    }
    return status;
}

}  // namespace

Status PatchBindingsDirectory(const fs::path& bindingsDir, const OperationLog& log) {
    return RetryWhileWrittenMeanwhile(bindingsDir / kBindingsFileName, "patched",
                                      [&] { return patchOnce(bindingsDir, log); });
}

PatchPlan PlanPatchGenericHmdBindingsFile(const fs::path& bindingsDir) {
    PatchPlan plan;
    plan.bindingsFile = platform::DisplayPath(bindingsDir / kBindingsFileName);
    const OperationLog log("patch", KeepLastMessage(plan.detail));
    const Status status = planPatch(bindingsDir, log, plan);
    log.Report(status);
    plan.failure = status.kind();
    return plan;
}

}  // namespace vexlor
