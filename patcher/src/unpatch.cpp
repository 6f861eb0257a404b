#include <string>

#include "dir_lock.h"
#include "failure.h"
#include "file_ops.h"
#include "inject.h"
#include "json_file.h"
#include "legacy.h"
#include "log.h"
#include "names.h"
#include "operations.h"
#include "platform.h"

namespace vexlor {

namespace {

using json = nlohmann::json;

constexpr const char* kTag = "Vexlor[unpatch]: ";
constexpr int kAttempts = 5;  // as for the patch: someone who keeps writing will not stop

// Stands beside the bindings file from just before an undo until its legacy cleanup is
// done. An undo takes the marker out, and without the marker nothing else would tell the
// next unpatch that a cleanup cut short by a crash is still owed.
constexpr const char* kCleanupOwedSuffix = ".vexlor_cleanup";

enum class Step { kUndone, kNotOurs, kNothingToDo, kFailed, kChanged };

struct Files {
    fs::path dir;
    fs::path file;    // the bindings file, as named in the directory
    fs::path target;  // where its bytes live: the file, or the file a link leads to
    fs::path backup;
};

fs::path cleanupNote(const Files& f) {
    return SiblingPath(f.file, kCleanupOwedSuffix);
}

bool cleanupOwed(const Files& f) {
    return fs::exists(fs::symlink_status(cleanupNote(f)));
}

// Leaves the note, flushed, when the undo about to happen will have legacy files to remove.
// Without it only a crash at the wrong moment could leave them; the undo goes on either way.
// True when the note was left.
bool noteCleanupOwed(const Files& f, const Logger& log) {
    if (!HasOwnLegacyProfile(f.dir, kLegacyControllerType)) {
        return false;
    }
    const fs::path note = cleanupNote(f);
    std::error_code ec = platform::RemoveStaleEntry(note);
    if (!ec) {
        ec = platform::WriteNewFileDurably(note, "", f.target);
    }
    if (!ec) {
        ec = platform::SyncDirectoryOf(note);
    }
    if (ec) {
        LogFormatted(log, "Vexlor[unpatch]: could not write %s: %s\n",
                     platform::DisplayPath(note).c_str(), platform::ErrorText(ec).c_str());
    }
    return !ec;
}

// The undo did not happen, so no cleanup is owed after all.
void withdrawCleanupNote(const Files& f, bool noted) {
    if (noted) {
        platform::RemoveFile(cleanupNote(f));
    }
}

// The note goes once nothing of ours can be left; otherwise the next unpatch tries again.
void cleanUp(const Files& f, const Logger& log) {
    if (!CleanupLegacyProfiles(f.dir, kLegacyControllerType, log)) {
        return;
    }
    const fs::path note = cleanupNote(f);
    if (std::error_code ec = platform::RemoveFile(note)) {
        LogFormatted(log, "Vexlor[unpatch]: could not remove %s: %s\n",
                     platform::DisplayPath(note).c_str(), platform::ErrorText(ec).c_str());
    }
}

// Writes `content` over the bindings file if it still holds `readBytes`, reporting a failure
// as a write-back does.
Step writeUndo(const Files& f, const ContentProducer& content, const std::string& readBytes,
               const Logger& log) {
    const bool noted = noteCleanupOwed(f, log);
    const ReplaceResult written = ReplaceFileContents(f.target, content, &readBytes);
    Step step = Step::kChanged;
    if (written.failedStep != ReplaceStep::kChanged) {
        step = ReportWriteBack(written, f.target, log) ? Step::kUndone : Step::kFailed;
    }
    if (step != Step::kUndone) {
        withdrawCleanupNote(f, noted);
    }
    return step;
}

// Gives each injected action set the value `original` had (or takes it out where `original`
// had none), and takes out both markers; everything else in `doc` stays. `changes`, when
// given, learns what changed.
void undoInjectedContent(json& doc, const json& original, UnpatchPlan* changes = nullptr) {
    UnpatchPlan ignored;
    UnpatchPlan& seen = changes != nullptr ? *changes : ignored;
    const auto bindings = doc.find(kBindingsKey);
    if (bindings != doc.end() && bindings->is_object()) {
        const auto originalBindings =
            original.is_object() ? original.find(kBindingsKey) : original.end();
        const bool hadBindings = original.is_object() && originalBindings != original.end() &&
                                 originalBindings->is_object();
        for (const char* actionSet : kInjectedActionSets) {
            if (hadBindings && originalBindings->contains(actionSet)) {
                (*bindings)[actionSet] = originalBindings->at(actionSet);
                seen.restoredActionSets.push_back(actionSet);
            } else if (bindings->erase(actionSet) != 0) {
                seen.removedActionSets.push_back(actionSet);
            }
        }
    }
    for (const char* marker : {kMarkerKey, kLegacyMarkerKey}) {
        if (doc.erase(marker) != 0) {
            seen.removedMarkers.push_back(marker);
        }
    }
}

// The undo of a marked document, written back: `original` is the backup's document, or null
// without a backup, where the injected sets simply go.
Step undoInPlace(const Files& f, json doc, const json& original, const std::string& readBytes,
                 const Logger& log) {
    undoInjectedContent(doc, original);
    return writeUndo(f, SerializedForWriting(doc), readBytes, log);
}

Step restore(const Files& f, const std::string& backupBytes, const std::string& readBytes,
             const Logger& log) {
    const std::string backupText = platform::DisplayPath(f.backup);
    const bool noted = noteCleanupOwed(f, log);
    const ReplaceResult restored = ReplaceFileContents(f.target, backupBytes, &readBytes);
    if (!restored.replaced()) {
        withdrawCleanupNote(f, noted);
    }
    if (restored.failedStep == ReplaceStep::kChanged) {
        return Step::kChanged;
    }
    if (restored.failedStep == ReplaceStep::kReread) {
        LogRereadFailure(restored, f.target, kTag, log);
        return Step::kFailed;
    }
    if (restored.failedStep == ReplaceStep::kAbandoned) {
        LogAbandoned(f.target, kTag, log);
        return Step::kFailed;
    }
    if (!restored.replaced()) {
        LogFormatted(log, "Vexlor[unpatch]: restore from %s failed: %s\n", backupText.c_str(),
                     (restored.cause.empty() ? platform::ErrorText(restored.error) : restored.cause)
                         .c_str());
        return Step::kFailed;
    }
    const std::string fileText = platform::DisplayPath(f.file);
    LogFormatted(log, "Vexlor[unpatch]: restored %s from %s\n", fileText.c_str(),
                 backupText.c_str());
    WarnOfDroppedAttributes(restored.dropped, f.file, kTag, log);
    if (restored.failedStep == ReplaceStep::kSync) {
        LogFormatted(log, "Vexlor[unpatch]: could not flush %s to storage: %s\n", fileText.c_str(),
                     platform::ErrorText(restored.error).c_str());
    }
    return Step::kUndone;
}

// True when `current` is exactly what a patch makes of the backup's document.
bool isPatchOf(const json& original, const std::string& current) {
    if (!original.is_object() && !original.is_null()) {
        return false;
    }
    json patched = original;
    InjectBindings(patched);
    std::string bytes;
    std::string cause;
    return SerializeForWriting(patched, bytes, cause) && bytes == current;
}

bool readForRestore(const Files& f, std::string& backupBytes, std::string& current,
                    const Logger& log) {
    fs::path source;
    if (!ResolveWriteTarget(f.backup, f.dir, kTag, log, source)) {
        return false;
    }
    std::error_code ec = platform::ReadWholeFile(source, kMaxFileBytes, backupBytes);
    std::string cause = platform::ErrorText(ec);
    if (!ec && (ec = platform::ReadWholeFile(f.target, kMaxFileBytes, current))) {
        cause = "cannot read " + platform::DisplayPath(f.target) + ": " + platform::ErrorText(ec);
    }
    if (ec) {
        NoteSystemFailure(
            ec, FailureKind::kNotReadable,
            ec == std::errc::file_too_large ? FailureKind::kTooLarge : FailureKind::kNotReadable);
        LogFormatted(log, "Vexlor[unpatch]: restore from %s failed: %s\n",
                     platform::DisplayPath(f.backup).c_str(), cause.c_str());
    }
    return !ec;
}

// Which way an unpatch goes is found from what it read, as an UnpatchDecision; the plan
// shows the same choice.
using Route = UnpatchDecision;

struct Reading {
    Files files;
    bool hasBackup = false;
    std::string backupBytes;
    std::string current;  // the bindings file's bytes, as read
    json original;        // the backup's document; null without a backup
    json doc;             // the bindings file's document, for an undo in place
};

// With a backup: its bytes come back when the file is still what the patch made of it;
// otherwise the file changed since, and what changed stays.
Route chooseWithBackup(Reading& r, const Logger& log) {
    std::string cause;
    if (!readForRestore(r.files, r.backupBytes, r.current, log)) {
        return Route::kWouldFail;
    }
    const bool backupParsed = ParseJsonText(r.backupBytes, r.original, cause);
    if (r.current == r.backupBytes || (backupParsed && isPatchOf(r.original, r.current))) {
        return Route::kRestore;
    }
    const std::string fileText = platform::DisplayPath(r.files.file);
    const std::string backupText = platform::DisplayPath(r.files.backup);
    if (!ParseJsonText(r.current, r.doc, cause)) {
        LogFormatted(log, "Vexlor[unpatch]: failed to parse %s: %s\n", fileText.c_str(),
                     cause.c_str());
        return Route::kWouldFail;
    }
    if (CarriedMarker(r.doc) == nullptr) {
        LogFormatted(log,
                     "Vexlor[unpatch]: %s no longer carries the patch (it changed since) "
                     "-- leaving alone; the backup %s is kept\n",
                     fileText.c_str(), backupText.c_str());
        return Route::kLeaveAlone;
    }
    if (!backupParsed) {
        NoteFailure(FailureKind::kBackupUnparsable);
        LogFormatted(log,
                     "Vexlor[unpatch]: cannot undo the patch in %s: its backup %s does not "
                     "parse (%s) -- nothing was changed\n",
                     fileText.c_str(), backupText.c_str(), cause.c_str());
        return Route::kWouldFail;
    }
    return Route::kUndoInPlace;
}

Route chooseWithoutBackup(Reading& r, const Logger& log) {
    const std::string fileText = platform::DisplayPath(r.files.file);
    std::string cause;
    bool refused = false;
    if (!ReadJsonBytes(r.files.target, r.current, cause, refused) ||
        !ParseJsonText(r.current, r.doc, cause)) {
        LogFormatted(log,
                     refused ? "Vexlor[unpatch]: cannot read %s: %s\n"
                             : "Vexlor[unpatch]: failed to parse %s: %s\n",
                     fileText.c_str(), cause.c_str());
        return Route::kWouldFail;
    }
    if (CarriedMarker(r.doc) == nullptr) {
        LogFormatted(log, "Vexlor[unpatch]: %s has no Vexlor marker -- leaving alone\n",
                     fileText.c_str());
        return Route::kLeaveAlone;
    }
    return Route::kUndoInPlace;
}

Route chooseRoute(Reading& r, const Logger& log) {
    switch (LookFor(r.files.file, kTag, log)) {
        case Presence::kAbsent:
            LogFormatted(log, "Vexlor[unpatch]: target missing at %s (nothing to do)\n",
                         platform::DisplayPath(r.files.file).c_str());
            return Route::kNothingToDo;
        case Presence::kUnknown:
            return Route::kWouldFail;
        case Presence::kPresent:
            break;
    }
    if (!ResolveWriteTarget(r.files.file, r.files.dir, kTag, log, r.files.target)) {
        return Route::kWouldFail;
    }
    switch (LookFor(r.files.backup, kTag, log)) {
        case Presence::kPresent:
            r.hasBackup = true;
            return chooseWithBackup(r, log);
        case Presence::kAbsent:
            return chooseWithoutBackup(r, log);
        case Presence::kUnknown:
            break;
    }
    return Route::kWouldFail;
}

Step undo(Reading& r, const Logger& log) {
    const Step step = undoInPlace(r.files, std::move(r.doc), r.original, r.current, log);
    if (step != Step::kUndone) {
        return step;
    }
    const std::string fileText = platform::DisplayPath(r.files.file);
    if (r.hasBackup) {
        LogFormatted(log,
                     "Vexlor[unpatch]: %s changed since it was patched; undid the patch in "
                     "place and kept the backup %s\n",
                     fileText.c_str(), platform::DisplayPath(r.files.backup).c_str());
    } else {
        LogFormatted(log, "Vexlor[unpatch]: erased Vexlor markers + bindings in %s\n",
                     fileText.c_str());
    }
    return step;
}

Step unpatchOnce(const Files& f, const Logger& log) {
    Reading r;
    r.files = f;
    const Route route = chooseRoute(r, log);
    if (route == Route::kRestore || route == Route::kUndoInPlace) {
        if (const std::string otherNames = OtherNamesWarning(r.files.target, kTag);
            !otherNames.empty()) {
            LogFormatted(log, "%s", otherNames.c_str());
        }
    }
    switch (route) {
        case Route::kRestore:
            return restore(r.files, r.backupBytes, r.current, log);
        case Route::kUndoInPlace:
            return undo(r, log);
        case Route::kLeaveAlone:
            return Step::kNotOurs;
        case Route::kNothingToDo:
            return Step::kNothingToDo;
        case Route::kWouldFail:
            break;
    }
    return Step::kFailed;
}

// Whether the write a restore or an undo ends with would be refused: the same check the
// replacement makes first.
bool mayReplace(const Reading& r, std::string& detail) {
    std::string cause;
    if (!MayReplace(r.files.target, cause)) {
        detail = "Vexlor[unpatch]: cannot replace " + platform::DisplayPath(r.files.target) + ": " +
                 cause + "\n";
        return false;
    }
    return true;
}

// The legacy profiles go after an undo, or after a file left alone while a cleanup is owed.
void planCleanup(const Files& f, Route route, UnpatchPlan& plan) {
    const bool cleans = route == Route::kRestore || route == Route::kUndoInPlace ||
                        (route == Route::kLeaveAlone && cleanupOwed(f));
    if (!cleans) {
        return;
    }
    for (const fs::path& profile : OwnLegacyProfiles(f.dir, kLegacyControllerType)) {
        plan.removedLegacyProfiles.push_back(platform::DisplayPath(profile.filename()));
    }
}

Files filesIn(const fs::path& bindingsDir) {
    Files f{bindingsDir, bindingsDir / kBindingsFileName, {}, {}};
    f.backup = SiblingPath(f.file, kBackupSuffix);
    return f;
}

}  // namespace

bool UnpatchBindingsDirectory(const fs::path& bindingsDir, const Logger& log) {
    const Files f = filesIn(bindingsDir);
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        switch (unpatchOnce(f, log)) {
            case Step::kUndone:
                cleanUp(f, log);
                return true;
            case Step::kNotOurs:
                // A cleanup an interrupted undo still owes is done now.
                if (cleanupOwed(f)) {
                    cleanUp(f, log);
                }
                return true;
            case Step::kNothingToDo:
                return true;
            case Step::kFailed:
                return false;
            case Step::kChanged:
                break;
        }
    }
    LogFormatted(log,
                 "Vexlor[unpatch]: %s kept changing while it was being unpatched (another "
                 "program is writing it); it was not changed\n",
                 platform::DisplayPath(f.file).c_str());
    NoteFailure(FailureKind::kKeptChanging);
    return false;
}

UnpatchPlan PlanUnpatchGenericHmdBindingsFile(const fs::path& bindingsDir) {
    FailureScope scope;
    UnpatchPlan plan;
    Reading r;
    r.files = filesIn(bindingsDir);
    plan.bindingsFile = platform::DisplayPath(r.files.file);
    const Logger keep = KeepLastMessage(plan.detail);
    if (!ProbeForPlan(bindingsDir.empty() ? fs::path(".") : bindingsDir, kTag, keep,
                      plan.warnings)) {
        plan.failure = scope.Result(false);
        return plan;
    }
    const Route route = chooseRoute(r, keep);
    if (route == Route::kWouldFail ||
        (route != Route::kNothingToDo && route != Route::kLeaveAlone &&
         !mayReplace(r, plan.detail))) {
        plan.failure = scope.Result(false);
        return plan;
    }
    plan.decision = route;
    if (r.hasBackup && (route == Route::kRestore || route == Route::kUndoInPlace)) {
        plan.backup = platform::DisplayPath(r.files.backup);
    }
    if (route == Route::kUndoInPlace) {
        undoInjectedContent(r.doc, r.original, &plan);
    }
    if (route == Route::kRestore || route == Route::kUndoInPlace) {
        if (std::string otherNames = OtherNamesWarning(r.files.target, kTag); !otherNames.empty()) {
            plan.warnings.push_back(std::move(otherNames));
        }
    }
    planCleanup(r.files, route, plan);
    return plan;
}

}  // namespace vexlor
