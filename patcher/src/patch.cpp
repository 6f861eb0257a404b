#include <algorithm>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "dir_lock.h"
#include "failure.h"
#include "file_ops.h"
#include "inject.h"
#include "json_file.h"
#include "kept_files.h"
#include "legacy.h"
#include "log.h"
#include "names.h"
#include "operations.h"
#include "platform.h"

namespace vexlor {

namespace {

constexpr const char* kTag = "Vexlor[patch]: ";

// How often a patch starts again from the read when someone else keeps writing the file
// between the read and the replace; a program that rewrites it that often is not going to
// stop for us.
constexpr int kAttempts = 5;

enum class Step { kDone, kFailed, kChanged };

// What a patch does about the backups before the file is replaced.
struct BackupStep {
    fs::path make;    // the backup to write now; empty when none is to be made
    fs::path kept;    // with a newer original: the newest backup, kept as it is
    fs::path newest;  // the newest backup there already, if any
};

// Finds which backup the file's bytes call for: the first one, none (the newest backup holds
// these very bytes, or they are our own patch without its marker), or the next generation,
// when the runtime has rewritten the file since the newest backup was made. False, with the
// reason logged, when the backups cannot be examined or no more may be made.
bool decideBackup(const fs::path& file, const fs::path& dir, const std::string& bytes,
                  bool markerMissing, BackupStep& step, const Logger& log) {
    const fs::path first = SiblingPath(file, kBackupSuffix);
    Generations found;
    std::string problem;
    if (FindGenerations(first, dir, found, problem)) {
        step.newest = found.newestPath();
        std::string newestBytes;
        if (markerMissing) {
            // Those bytes are the patch's own work, not an original.
        } else if (found.present.empty()) {
            step.make = first;
        } else if (std::error_code ec =
                       platform::ReadWholeFile(step.newest, kMaxFileBytes, newestBytes)) {
            NoteSystemFailure(ec, FailureKind::kNotReadable, FailureKind::kBackupFailed);
            problem = "cannot read " + platform::DisplayPath(step.newest) + ": " +
                      platform::ErrorText(ec);
        } else if (newestBytes != bytes) {
            step.kept = step.newest;
            step.make = NextGeneration(first, found, problem);
        }
    }
    if (!problem.empty()) {
        LogFormatted(log, "Vexlor[patch]: backup write failed: %s\n", problem.c_str());
    }
    return problem.empty();
}

// The file is replaced only once its original bytes are safe: in a backup already in place,
// or in one made now. A backup temporary file an interrupted run left once the backup exists
// would otherwise stay for good.
bool applyBackup(const BackupStep& step, const fs::path& model, const std::string& bytes,
                 const Logger& log) {
    if (step.make.empty()) {
        if (!step.newest.empty()) {
            ClearKeptFileLeftover(step.newest, kTag, log);
        }
        return true;
    }
    if (const std::string problem =
            KeepFile(step.make, bytes, model, FailureKind::kBackupFailed, kTag, log);
        !problem.empty()) {
        LogFormatted(log, "Vexlor[patch]: backup write failed: %s\n", problem.c_str());
        return false;
    }
    const std::string made = platform::DisplayPath(step.make);
    if (step.kept.empty()) {
        LogFormatted(log, "Vexlor[patch]: backed up original to %s\n", made.c_str());
    } else {
        LogFormatted(log,
                     "Vexlor[patch]: the file changed since its last backup; kept %s and backed "
                     "up the new original to %s\n",
                     platform::DisplayPath(step.kept).c_str(), made.c_str());
    }
    return true;
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
// is not; false, with the reason logged, for a file that cannot be read or parsed.
bool readForPatch(const fs::path& target, const std::string& fileText, JsonFile& file,
                  bool& alreadyPatched, const Logger& log) {
    std::string cause;
    alreadyPatched = false;
    bool refused = false;
    bool ok = ReadJsonBytes(target, file.bytes, cause, refused);
    if (refused) {
        LogFormatted(log, "Vexlor[patch]: cannot read %s: %s\n", fileText.c_str(), cause.c_str());
        return false;
    }
    if (ok && mayCarryMarker(file.bytes)) {
        DocumentOutline outline;
        ok = ScanJsonText(file.bytes, MarkerKeys(), outline, cause);
        alreadyPatched = ok && HasMarker(outline, kMarkerKey);
    }
    if (ok && !alreadyPatched) {
        ok = ParseJsonText(file.bytes, file.document, cause);
        alreadyPatched = ok && HasMarker(file.document, kMarkerKey);
    }
    if (!ok) {
        LogFormatted(log, "Vexlor[patch]: failed to parse %s: %s\n", fileText.c_str(),
                     cause.c_str());
    }
    return ok;
}

// Finds the bindings file and where its bytes live; false, with the reason logged, when
// there is none to patch.
bool locateBindingsFile(const fs::path& dir, const fs::path& file, const Logger& log,
                        fs::path& target) {
    switch (LookFor(file, kTag, log)) {
        case Presence::kAbsent:
            NoteFailure(FailureKind::kMissing);
            LogFormatted(log, "Vexlor[patch]: generic_hmd bindings missing at %s\n",
                         platform::DisplayPath(file).c_str());
            return false;
        case Presence::kUnknown:
            return false;
        case Presence::kPresent:
            break;
    }
    return ResolveWriteTarget(file, dir, kTag, log, target);
}

// Everything a patch settles before it writes anything; the plan shows the same facts.
struct Prepared {
    fs::path target;
    JsonFile read;  // `read.document` is patched in place
    bool alreadyPatched = false;
    bool markerMissing = false;  // the patch's action sets are there, its marker is not
    std::vector<bool> setHeld;   // per kInjectedActionSets: the file held it before the patch
    bool heldLegacyMarker = false;
};

void recordWhatChanges(const nlohmann::json& doc, Prepared& p) {
    const auto bindings = doc.is_object() ? doc.find(kBindingsKey) : doc.end();
    const bool hasBindings = doc.is_object() && bindings != doc.end() && bindings->is_object();
    for (const char* actionSet : kInjectedActionSets) {
        p.setHeld.push_back(hasBindings && bindings->contains(actionSet));
    }
    p.heldLegacyMarker = doc.is_object() && doc.contains(kLegacyMarkerKey);
}

// Reads the file, makes its patched form and checks it may be replaced; false, with the
// reason logged, for a file the patch leaves alone or cannot write.
bool preparePatch(const fs::path& dir, const fs::path& file, Prepared& p, const Logger& log) {
    const std::string fileText = platform::DisplayPath(file);
    if (!locateBindingsFile(dir, file, log, p.target)) {
        return false;
    }
    if (!readForPatch(p.target, fileText, p.read, p.alreadyPatched, log)) {
        return false;
    }
    if (p.alreadyPatched) {
        return true;
    }
    nlohmann::json& doc = p.read.document;
    if (!doc.is_object() && !doc.is_null()) {
        NoteFailure(FailureKind::kNotObject);
        LogFormatted(log, "Vexlor[patch]: %s is not a JSON object -- leaving alone\n",
                     fileText.c_str());
        return false;
    }
    recordWhatChanges(doc, p);
    p.markerMissing = HoldsInjectedActionSets(doc);
    InjectBindings(doc);
    // Refused before anything is written, so that a patch that cannot be written changes
    // nothing.
    if (std::string refusal; !MayReplace(p.target, refusal)) {
        LogFormatted(log, "Vexlor[patch]: cannot replace %s: %s\n", fileText.c_str(),
                     refusal.c_str());
        return false;
    }
    return true;
}

Step patchOnce(const fs::path& dir, const Logger& log) {
    const fs::path file = dir / kBindingsFileName;
    Prepared p;
    if (!preparePatch(dir, file, p, log)) {
        return Step::kFailed;
    }
    if (p.alreadyPatched) {
        LogFormatted(log, "Vexlor[patch]: generic_hmd bindings already patched\n");
        return Step::kDone;
    }
    if (const std::string otherNames = OtherNamesWarning(p.target, kTag); !otherNames.empty()) {
        LogFormatted(log, "%s", otherNames.c_str());
    }
    const std::string fileText = platform::DisplayPath(file);
    if (p.markerMissing) {
        LogFormatted(log,
                     "Vexlor[patch]: %s holds the patch's action sets without its marker; "
                     "putting the marker back, with no new backup\n",
                     fileText.c_str());
    }
    // The patched file is written before the backup is made: a document that cannot be
    // written (too large, say) is refused without leaving a backup behind, and the file is
    // still replaced only once its original bytes are safe.
    const ReplaceResult written =
        ReplaceFileContents(p.target, SerializedForWriting(p.read.document), &p.read.bytes, [&] {
            // Written out, the document is let go before the target is read once more for
            // the check before the rename: the two never take memory at the same time.
            p.read.document = nlohmann::json();
            BackupStep step;
            return decideBackup(file, dir, p.read.bytes, p.markerMissing, step, log) &&
                   applyBackup(step, p.target, p.read.bytes, log);
        });
    if (written.failedStep == ReplaceStep::kChanged) {
        return Step::kChanged;
    }
    if (!ReportWriteBack(written, p.target, log)) {
        return Step::kFailed;
    }
    LogFormatted(log, "Vexlor[patch]: patched %s\n", fileText.c_str());
    return Step::kDone;
}

// The limit the write-back holds the patched document to, checked as the write would.
bool fitsWriteLimit(const Prepared& p, const Logger& log) {
    std::string cause;
    if (CanSerializeForWriting(p.read.document, cause)) {
        return true;
    }
    LogFormatted(log, "Vexlor[patch]: tmp write failed for %s: %s\n",
                 platform::DisplayPath(p.target).c_str(), cause.c_str());
    return false;
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

}  // namespace

bool PatchBindingsDirectory(const fs::path& bindingsDir, const Logger& log) {
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        switch (patchOnce(bindingsDir, log)) {
            case Step::kDone:
                return true;
            case Step::kFailed:
                return false;
            case Step::kChanged:
                break;
        }
    }
    LogFormatted(log,
                 "Vexlor[patch]: %s kept changing while it was being patched (another program "
                 "is writing it); it was not changed\n",
                 platform::DisplayPath(bindingsDir / kBindingsFileName).c_str());
    NoteFailure(FailureKind::kKeptChanging);
    return false;
}

PatchPlan PlanPatchGenericHmdBindingsFile(const fs::path& bindingsDir) {
    FailureScope scope;
    PatchPlan plan;
    const fs::path file = bindingsDir / kBindingsFileName;
    plan.bindingsFile = platform::DisplayPath(file);
    const Logger keep = KeepLastMessage(plan.detail);
    Prepared p;
    if (!ProbeForPlan(bindingsDir.empty() ? fs::path(".") : bindingsDir, kTag, keep,
                      plan.warnings) ||
        !preparePatch(bindingsDir, file, p, keep)) {
        plan.failure = scope.Result(false);
        return plan;
    }
    if (p.alreadyPatched) {
        plan.decision = PatchDecision::kAlreadyPatched;
        return plan;
    }
    BackupStep step;
    if (!fitsWriteLimit(p, keep) ||
        !decideBackup(file, bindingsDir, p.read.bytes, p.markerMissing, step, keep)) {
        plan.failure = scope.Result(false);
        return plan;
    }
    if (!step.make.empty()) {
        plan.backupToMake = platform::DisplayPath(step.make);
    }
    if (!step.kept.empty()) {
        plan.backupKept = platform::DisplayPath(step.kept);
    }
    plan.markerMissing = p.markerMissing;
    plan.decision = PatchDecision::kPatch;
    planChanges(p, plan);
    if (std::string otherNames = OtherNamesWarning(p.target, kTag); !otherNames.empty()) {
        plan.warnings.push_back(std::move(otherNames));
    }
    return plan;
}

}  // namespace vexlor
