#include <string>
#include <string_view>
#include <system_error>
#include <utility>
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

// "a, b and c", for a message.
std::string joinedNames(const std::vector<std::string>& names) {
    std::string joined;
    for (std::size_t i = 0; i < names.size(); ++i) {
        joined += (i == 0 ? "" : i + 1 == names.size() ? " and " : ", ") + names[i];
    }
    return joined;
}

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
// without a backup, where the injected sets simply go. An undo that leaves exactly the
// backup's content gives back its very bytes (`originalBytes`, when they hold no patch), so
// that the next patch does not take a mere change of layout for a new original. What the
// write does not need goes first: the replacement reads the file once more to check it.
Step undoInPlace(const Files& f, json doc, json original, const std::string* originalBytes,
                 const std::string& readBytes, const Logger& log) {
    undoInjectedContent(doc, original);
    const bool backToOriginal = originalBytes != nullptr && doc == original;
    original = json();
    if (backToOriginal) {
        doc = json();
        return writeUndo(f, ContentOf(*originalBytes), readBytes, log);
    }
    return writeUndo(f, SerializedForWriting(doc), readBytes, log);
}

// `content` is the backup's bytes, or, when the backup itself carries a patch, its undone form:
// an unpatch leaves no patch of either release behind.
Step restore(const Files& f, const ContentProducer& content, const std::string& readBytes,
             const Logger& log) {
    const std::string backupText = platform::DisplayPath(f.backup);
    const bool noted = noteCleanupOwed(f, log);
    const ReplaceResult restored = ReplaceFileContents(f.target, content, &readBytes);
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

// What a patch replaces in a document, taken out while the patch is applied to the document
// itself, so that it can be put back: checking what a patch makes of a large document then
// needs no copy of it.
struct Replaced {
    bool wasNull = false;
    bool hadBindings = false;
    bool bindingsWereObject = false;
    json otherBindings;  // a "bindings" member that is no object, replaced whole by the patch
    std::vector<std::pair<const char*, json>> actionSets;
    std::vector<std::pair<const char*, json>> markers;
};

// Moves the member `key` of `object`, when it has one, into `taken`.
void takeMember(json& object, const char* key, std::vector<std::pair<const char*, json>>& taken) {
    const auto member = object.find(key);
    if (member != object.end()) {
        taken.emplace_back(key, std::move(*member));
    }
}

// `doc`, an object or null, patched in place; what the patch replaced is returned.
Replaced applyPatchInPlace(json& doc) {
    Replaced replaced;
    replaced.wasNull = doc.is_null();
    if (!replaced.wasNull) {
        const auto bindings = doc.find(kBindingsKey);
        replaced.hadBindings = bindings != doc.end();
        replaced.bindingsWereObject = replaced.hadBindings && bindings->is_object();
        if (replaced.hadBindings && !replaced.bindingsWereObject) {
            replaced.otherBindings = std::move(*bindings);
        } else if (replaced.hadBindings) {
            for (const char* actionSet : kInjectedActionSets) {
                takeMember(*bindings, actionSet, replaced.actionSets);
            }
        }
        for (const char* marker : {kMarkerKey, kLegacyMarkerKey}) {
            takeMember(doc, marker, replaced.markers);
        }
    }
    InjectBindings(doc);
    return replaced;
}

// Undoes applyPatchInPlace: `doc` is again exactly the document it was patched from.
void putBack(json& doc, Replaced replaced) {
    if (replaced.wasNull) {
        doc = json();
        return;
    }
    if (!replaced.hadBindings) {
        doc.erase(kBindingsKey);
    } else if (!replaced.bindingsWereObject) {
        doc[kBindingsKey] = std::move(replaced.otherBindings);
    } else {
        json& bindings = doc[kBindingsKey];
        for (const char* actionSet : kInjectedActionSets) {
            bindings.erase(actionSet);
        }
        for (auto& [actionSet, value] : replaced.actionSets) {
            bindings[actionSet] = std::move(value);
        }
    }
    doc.erase(kMarkerKey);
    for (auto& [marker, value] : replaced.markers) {
        doc[marker] = std::move(value);
    }
}

// Whether `doc` written out is exactly `bytes`, found while it is serialized: the comparison
// stops at the first piece that differs, and the text is never held whole.
bool serializesTo(const json& doc, const std::string& bytes) {
    std::size_t compared = 0;
    const platform::ByteSink compare = [&](std::string_view piece) {
        if (bytes.compare(compared, piece.size(), piece.data(), piece.size()) != 0) {
            return std::make_error_code(std::errc::operation_canceled);
        }
        compared += piece.size();
        return std::error_code();
    };
    std::string cause;
    return !SerializedForWriting(doc)(compare, cause) && compared == bytes.size();
}

// True when `current` is exactly what a patch makes of the backup's document `original`,
// which is patched for the check and given back unchanged.
bool isPatchOf(json& original, const std::string& current) {
    if (!original.is_object() && !original.is_null()) {
        return false;
    }
    Replaced replaced = applyPatchInPlace(original);
    const bool same = serializesTo(original, current);
    putBack(original, std::move(replaced));
    return same;
}

// Whether `bytes` may hold a marker: a marker's name as a patch writes it, or an escape, with
// which a name can be written otherwise. Only then must the document be read to tell.
bool mayHoldMarker(const std::string& bytes) {
    return bytes.find('\\') != std::string::npos || bytes.find(kMarkerKey) != std::string::npos ||
           bytes.find(kLegacyMarkerKey) != std::string::npos;
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
    json original;        // the backup's document, its own patch undone; null without a backup
    const char* backupMarker = nullptr;  // the marker the backup itself carries, if any
    json doc;                            // the bindings file's document, for an undo in place
};

// A backup taken of a file that was patched already (by an older release, or a copy of a
// patched file put there by hand) holds no original of the injected sets: they and its marker
// go, as they would from the file itself.
void undoPatchInBackup(Reading& r) {
    r.backupMarker = CarriedMarker(r.original);
    if (r.backupMarker != nullptr) {
        undoInjectedContent(r.original, json());
    }
}

// Whether the file is ours without its marker: the patch's action sets exactly as it writes
// them. Said once, for the unpatch and its plan alike.
bool patchedWithoutMarker(const Reading& r, const std::string& fileText, const Logger& log) {
    if (!HoldsInjectedActionSets(r.doc)) {
        return false;
    }
    LogFormatted(log,
                 "Vexlor[unpatch]: %s holds the patch's action sets without its marker; "
                 "undoing it\n",
                 fileText.c_str());
    return true;
}

// With a backup: its bytes come back when the file is still what the patch made of it;
// otherwise the file changed since, and what changed stays.
Route chooseWithBackup(Reading& r, const Logger& log) {
    std::string cause;
    if (!readForRestore(r.files, r.backupBytes, r.current, log)) {
        return Route::kWouldFail;
    }
    // The file is the backup still: its bytes come back, and its document is built only when
    // it may carry a patch of its own.
    if (r.current == r.backupBytes) {
        if (mayHoldMarker(r.backupBytes) && ParseJsonText(r.backupBytes, r.original, cause)) {
            undoPatchInBackup(r);
        }
        return Route::kRestore;
    }
    const bool backupParsed = ParseJsonText(r.backupBytes, r.original, cause);
    if (backupParsed && isPatchOf(r.original, r.current)) {
        undoPatchInBackup(r);
        return Route::kRestore;
    }
    undoPatchInBackup(r);
    const std::string fileText = platform::DisplayPath(r.files.file);
    const std::string backupText = platform::DisplayPath(r.files.backup);
    if (!ParseJsonText(r.current, r.doc, cause)) {
        LogFormatted(log, "Vexlor[unpatch]: failed to parse %s: %s\n", fileText.c_str(),
                     cause.c_str());
        return Route::kWouldFail;
    }
    if (CarriedMarker(r.doc) == nullptr && !patchedWithoutMarker(r, fileText, log)) {
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
    if (CarriedMarker(r.doc) == nullptr && !patchedWithoutMarker(r, fileText, log)) {
        LogFormatted(log, "Vexlor[unpatch]: %s has no Vexlor marker -- leaving alone\n",
                     fileText.c_str());
        return Route::kLeaveAlone;
    }
    return Route::kUndoInPlace;
}

// Points `f.backup` at the newest generation of the backup: the original the file had when it
// was last patched. Every name is looked at, so that none is taken for absent unchecked.
Presence findNewestBackup(Files& f, const Logger& log) {
    const fs::path first = SiblingPath(f.file, kBackupSuffix);
    Presence found = Presence::kAbsent;
    for (int number = 1; number <= kMaxGenerations; ++number) {
        const fs::path generation = GenerationPath(first, number);
        switch (LookFor(generation, kTag, log)) {
            case Presence::kUnknown:
                return Presence::kUnknown;
            case Presence::kPresent:
                f.backup = generation;
                found = Presence::kPresent;
                break;
            case Presence::kAbsent:
                break;
        }
    }
    return found;
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
    switch (findNewestBackup(r.files, log)) {
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

// Where the file's bytes are kept before an undo replaces edits made inside the injected
// sets: the newest copy when it holds these very bytes already (an undo cut short, run again),
// else the next generation. False, with the reason in `problem`, when no copy can be made.
bool decideCopy(const Files& f, const std::string& bytes, fs::path& copy, bool& existing,
                std::string& problem) {
    const fs::path first = SiblingPath(f.file, kBeforeUndoSuffix);
    Generations found;
    if (!FindGenerations(first, f.dir, found, problem)) {
        return false;
    }
    std::string newestBytes;
    existing = !found.present.empty() &&
               !platform::ReadWholeFile(found.newestPath(), kMaxFileBytes, newestBytes) &&
               newestBytes == bytes;
    copy = existing ? found.newestPath() : NextGeneration(first, found, problem);
    return problem.empty();
}

// An undo in place puts back what the patch replaced; what someone changed inside the
// injected sets since would be gone with no trace, so the file's bytes are kept first.
bool keepCopyBeforeUndo(const Reading& r, const Logger& log) {
    const std::vector<std::string> edited = EditedActionSets(r.doc);
    if (edited.empty()) {
        return true;
    }
    fs::path copy;
    bool existing = false;
    std::string problem;
    if (decideCopy(r.files, r.current, copy, existing, problem) && !existing) {
        problem = KeepFile(copy, r.current, r.files.target, FailureKind::kCopyFailed, kTag, log);
    }
    const std::string fileText = platform::DisplayPath(r.files.file);
    if (!problem.empty()) {
        NoteFailure(FailureKind::kCopyFailed);
        LogFormatted(log,
                     "Vexlor[unpatch]: could not keep a copy of %s before undoing the patch: %s "
                     "-- nothing was changed\n",
                     fileText.c_str(), problem.c_str());
        return false;
    }
    LogFormatted(
        log, "Vexlor[unpatch]: kept a copy of %s as %s: the undo replaces the edits in %s\n",
        fileText.c_str(), platform::DisplayPath(copy).c_str(), joinedNames(edited).c_str());
    return true;
}

Step undo(Reading& r, const Logger& log) {
    if (!keepCopyBeforeUndo(r, log)) {
        return Step::kFailed;
    }
    const bool bytesUsable = r.hasBackup && r.backupMarker == nullptr;
    const Step step = undoInPlace(r.files, std::move(r.doc), std::move(r.original),
                                  bytesUsable ? &r.backupBytes : nullptr, r.current, log);
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

Step restoreAndUndo(Reading& r, const Logger& log) {
    if (r.backupMarker == nullptr) {
        r.original = json();  // not needed for the bytes, nor while the file is read again
        return restore(r.files, ContentOf(r.backupBytes), r.current, log);
    }
    const Step step = restore(r.files, SerializedForWriting(r.original), r.current, log);
    if (step == Step::kUndone) {
        LogFormatted(log,
                     "Vexlor[unpatch]: the backup itself carried a patch (%s); erased Vexlor "
                     "markers + bindings in %s\n",
                     r.backupMarker, platform::DisplayPath(r.files.file).c_str());
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
            return restoreAndUndo(r, log);
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

// The backup used and the older generations kept beside it.
void planBackups(const Reading& r, UnpatchPlan& plan) {
    plan.backup = platform::DisplayPath(r.files.backup);
    if (r.backupMarker != nullptr) {
        plan.backupMarker = r.backupMarker;
    }
    const fs::path first = SiblingPath(r.files.file, kBackupSuffix);
    for (int number = 1; number <= kMaxGenerations; ++number) {
        const fs::path generation = GenerationPath(first, number);
        if (generation == r.files.backup) {
            break;
        }
        std::error_code ec;
        if (QueryPresence(generation, ec) != Presence::kAbsent) {
            plan.olderBackups.push_back(platform::DisplayPath(generation));
        }
    }
}

// The copy an undo in place keeps first, when it replaces edits; false when it cannot.
bool planCopy(const Reading& r, UnpatchPlan& plan) {
    plan.editedActionSets = EditedActionSets(r.doc);
    if (plan.editedActionSets.empty()) {
        return true;
    }
    fs::path copy;
    bool existing = false;
    std::string problem;
    if (!decideCopy(r.files, r.current, copy, existing, problem)) {
        NoteFailure(FailureKind::kCopyFailed);
        plan.detail = "Vexlor[unpatch]: could not keep a copy of " +
                      platform::DisplayPath(r.files.file) +
                      " before undoing the patch: " + problem + " -- nothing was changed\n";
        return false;
    }
    plan.copyBeforeUndo = platform::DisplayPath(copy);
    return true;
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
    if (route == Route::kUndoInPlace && !planCopy(r, plan)) {
        plan.failure = scope.Result(false);
        return plan;
    }
    plan.decision = route;
    if (r.hasBackup && (route == Route::kRestore || route == Route::kUndoInPlace)) {
        planBackups(r, plan);
    }
    if (route == Route::kUndoInPlace) {
        plan.markerMissing = CarriedMarker(r.doc) == nullptr;
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
