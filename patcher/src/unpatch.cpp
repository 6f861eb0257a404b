#include "unpatch.h"

#include <optional>
#include <string>
#include <utility>
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

using json = nlohmann::json;

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
bool noteCleanupOwed(const Files& f, const OperationLog& log) {
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
        log.Say("could not write %s: %s\n", platform::DisplayPath(note).c_str(),
                platform::ErrorText(ec).c_str());
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
void cleanUp(const Files& f, const OperationLog& log) {
    if (!CleanupLegacyProfiles(f.dir, kLegacyControllerType, log)) {
        return;
    }
    const fs::path note = cleanupNote(f);
    if (std::error_code ec = platform::RemoveFile(note)) {
        log.Say("could not remove %s: %s\n", platform::DisplayPath(note).c_str(),
                platform::ErrorText(ec).c_str());
    }
}

// Writes `content` over the bindings file if it still holds `readBytes`, reporting a failure
// as a write-back does.
Status writeUndo(const Files& f, const ContentProducer& content, const std::string& readBytes,
                 const OperationLog& log) {
    const bool noted = noteCleanupOwed(f, log);
    const ReplaceResult written = ReplaceFileContents(f.target, content, &readBytes);
    Status status = ReportWriteBack(written, f.target, log);
    if (!status.ok()) {
        withdrawCleanupNote(f, noted);
    } else {
        log.Wrote(f.file);
    }
    return status;
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
Status undoInPlace(const Files& f, json doc, json original, const std::string* originalBytes,
                   const std::string& readBytes, const OperationLog& log) {
    undoInjectedContent(doc, original);
    const bool backToOriginal = originalBytes != nullptr && doc == original;
    original = json();
    if (backToOriginal) {
        doc = json();
        return writeUndo(f, ContentOf(*originalBytes), readBytes, log);
    }
    return writeUndo(f, StreamedJson(doc), readBytes, log);
}

// Says what a restore did: the file back from the backup, with what it could not keep.
void reportRestored(const Files& f, const ReplaceResult& restored, const OperationLog& log) {
    log.Wrote(f.file);
    const std::string fileText = platform::DisplayPath(f.file);
    log.Say("restored %s from %s\n", fileText.c_str(), platform::DisplayPath(f.backup).c_str());
    WarnOfDroppedAttributes(restored.dropped, f.file, log);
    if (restored.failedStep == ReplaceStep::kSync) {
        log.Say("could not flush %s to storage: %s\n", fileText.c_str(),
                restored.failure.message().c_str());
    }
}

// `content` is the backup's bytes, or, when the backup itself carries a patch, its undone form:
// an unpatch leaves no patch of either release behind.
Status restore(const Files& f, const ContentProducer& content, const WhatWasRead& read,
               const OperationLog& log) {
    const bool noted = noteCleanupOwed(f, log);
    const ReplaceResult restored = ReplaceFileContents(f.target, content, read);
    if (!restored.replaced()) {
        withdrawCleanupNote(f, noted);
    }
    if (Status common = CommonReplaceFailure(restored, f.target); !common.ok()) {
        return common;
    }
    if (!restored.replaced()) {
        return restored.failure.Prefixed("restore from " + platform::DisplayPath(f.backup) +
                                         " failed: ");
    }
    reportRestored(f, restored, log);
    return {};
}

// True when `current` is exactly what a patch makes of the backup's document `original`,
// which is patched for the check and given back unchanged.
bool isPatchOf(json& original, const std::string& current) {
    if (!original.is_object() && !original.is_null()) {
        return false;
    }
    ReplacedByInjection replaced = InjectBindingsReversibly(original);
    const bool same = SerializesTo(original, current);
    RevertInjection(original, std::move(replaced));
    return same;
}

// Whether `bytes` may hold a marker: a marker's name as a patch writes it, or an escape, with
// which a name can be written otherwise. Only then must the document be read to tell.
bool mayHoldMarker(const std::string& bytes) {
    return bytes.find('\\') != std::string::npos || bytes.find(kMarkerKey) != std::string::npos ||
           bytes.find(kLegacyMarkerKey) != std::string::npos;
}

// A backup or file that could not be read for a restore, as every restore tells it.
Status restoreReadFailure(const Files& f, const std::error_code& ec, const std::string& cause) {
    return Status::FromSystem(
        ec, FailureKind::kNotReadable,
        ec == std::errc::file_too_large ? FailureKind::kTooLarge : FailureKind::kNotReadable,
        "restore from " + platform::DisplayPath(f.backup) + " failed: " + cause);
}

Status fileUnreadable(const Files& f, const std::error_code& ec) {
    return restoreReadFailure(
        f, ec, "cannot read " + platform::DisplayPath(f.target) + ": " + platform::ErrorText(ec));
}

// The backup's bytes and the note kept with it, empty when it has none: the note only saves
// work, and a backup without one is judged by its document.
Status readBackup(const Files& f, std::string& backupBytes, std::string& backupNote) {
    fs::path source;
    if (Status resolved = ResolveWriteTarget(f.backup, f.dir, source); !resolved.ok()) {
        return resolved;
    }
    if (platform::ReadFileNote(source, backupNote)) {
        backupNote.clear();
    }
    if (std::error_code ec = platform::ReadWholeFile(source, kMaxFileBytes, backupBytes)) {
        return restoreReadFailure(f, ec, platform::ErrorText(ec));
    }
    return {};
}

struct Reading {
    UnpatchDecision decision = UnpatchDecision::kWouldFail;
    Files files;
    bool hasBackup = false;
    std::string backupBytes;
    std::string backupNote;  // kept with the backup by the patch that made it, if any
    std::string current;     // the bindings file's bytes, as read
    // Set instead of `current` when the file was only hashed: it is the patch the backup's
    // note tells of, and the restore needs no more of it than the digest to check it by.
    std::optional<ContentDigest> currentDigest;
    json original;  // the backup's document, its own patch undone; null without a backup
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
bool patchedWithoutMarker(const Reading& r, const std::string& fileText, const OperationLog& log) {
    if (!HoldsInjectedActionSets(r.doc)) {
        return false;
    }
    log.Say("%s holds the patch's action sets without its marker; undoing it\n", fileText.c_str());
    return true;
}

// The note kept with the backup, when it is one of this patch about this very backup.
bool noteOfBackup(const Reading& r, BackupNote& note) {
    return ReadNoteText(r.backupNote, note) && note.backupSize == r.backupBytes.size();
}

// Whether the file is exactly the patch `note` tells of, found as the file is read and without
// keeping it; then it goes back to the backup's bytes unread again.
Status isNotedPatch(Reading& r, const BackupNote& note, bool& same) {
    if (std::error_code ec = HoldsDigest(r.files.target, note.patched, same)) {
        return fileUnreadable(r.files, ec);
    }
    if (same) {
        r.currentDigest = note.patched;
    }
    return {};
}

// The backup's bytes come back as they are, and its document is built only when it may carry
// a patch of its own.
void restoreBackupBytes(Reading& r, bool mayCarryMarker) {
    if (mayCarryMarker && ParseJsonText(r.backupBytes, r.original).ok()) {
        undoPatchInBackup(r);
    }
    r.decision = UnpatchDecision::kRestore;
}

// With a backup: its bytes come back when the file is still what the patch made of it;
// otherwise the file changed since, and what changed stays.
// Decides the restore from the backup's note alone when the note shows the file is its patch.
// `noted` says whether the note was one of this patch about this very backup.
Status restoreByNote(Reading& r, bool& noted) {
    BackupNote note;
    noted = noteOfBackup(r, note);
    bool same = false;
    if (noted) {
        if (Status hashed = isNotedPatch(r, note, same); !hashed.ok()) {
            return hashed;
        }
    }
    if (same) {
        restoreBackupBytes(r, note.backupCarriesMarker);
    }
    return {};
}

// Whether the backup's bytes come back, decided from the file read whole. A note that did not
// take the file for the patch it tells of is believed: the file changed since, and the
// backup's patch need not be made to see that.
Status restoreByContent(Reading& r, bool noted, Status& backupParse) {
    if (std::error_code ec = platform::ReadWholeFile(r.files.target, kMaxFileBytes, r.current)) {
        return fileUnreadable(r.files, ec);
    }
    if (r.current == r.backupBytes) {
        restoreBackupBytes(r, mayHoldMarker(r.backupBytes));
        return {};
    }
    backupParse = ParseJsonText(r.backupBytes, r.original);
    if (backupParse.ok() && !noted && isPatchOf(r.original, r.current)) {
        r.decision = UnpatchDecision::kRestore;
    }
    undoPatchInBackup(r);
    return {};
}

Status chooseWithBackup(Reading& r, const OperationLog& log) {
    if (Status read = readBackup(r.files, r.backupBytes, r.backupNote); !read.ok()) {
        return read;
    }
    bool noted = false;
    if (Status byNote = restoreByNote(r, noted);
        !byNote.ok() || r.decision == UnpatchDecision::kRestore) {
        return byNote;
    }
    Status backupParse;
    if (Status byContent = restoreByContent(r, noted, backupParse);
        !byContent.ok() || r.decision == UnpatchDecision::kRestore) {
        return byContent;
    }
    const std::string fileText = platform::DisplayPath(r.files.file);
    const std::string backupText = platform::DisplayPath(r.files.backup);
    if (Status parse = ParseJsonText(r.current, r.doc); !parse.ok()) {
        return parse.Prefixed("failed to parse " + fileText + ": ");
    }
    if (CarriedMarker(r.doc) == nullptr && !patchedWithoutMarker(r, fileText, log)) {
        log.Say(
            "%s no longer carries the patch (it changed since) -- leaving alone; the backup "
            "%s is kept\n",
            fileText.c_str(), backupText.c_str());
        r.decision = UnpatchDecision::kLeaveAlone;
        return {};
    }
    if (!backupParse.ok()) {
        return Status::Failed(FailureKind::kBackupUnparsable,
                              "cannot undo the patch in " + fileText + ": its backup " +
                                  backupText + " does not parse (" + backupParse.message() +
                                  ") -- nothing was changed");
    }
    r.decision = UnpatchDecision::kUndoInPlace;
    return {};
}

Status chooseWithoutBackup(Reading& r, const OperationLog& log) {
    const std::string fileText = platform::DisplayPath(r.files.file);
    if (Status read = ReadForParsing(r.files.target, fileText, r.current); !read.ok()) {
        return read;
    }
    if (Status parse = ParseJsonText(r.current, r.doc); !parse.ok()) {
        return parse.Prefixed("failed to parse " + fileText + ": ");
    }
    if (CarriedMarker(r.doc) == nullptr && !patchedWithoutMarker(r, fileText, log)) {
        log.Say("%s has no Vexlor marker -- leaving alone\n", fileText.c_str());
        r.decision = UnpatchDecision::kLeaveAlone;
        return {};
    }
    r.decision = UnpatchDecision::kUndoInPlace;
    return {};
}

// Points `f.backup` at the newest generation of the backup: the original the file had when it
// was last patched. Every name is looked at, so that none is taken for absent unchecked.
Status findNewestBackup(Files& f, FilePresence& found) {
    const fs::path first = SiblingPath(f.file, kBackupSuffix);
    found = FilePresence::kAbsent;
    for (int number = 1; number <= kMaxGenerations; ++number) {
        const fs::path generation = GenerationPath(first, number);
        FilePresence presence = FilePresence::kUnknown;
        if (Status look = LookFor(generation, presence); !look.ok()) {
            found = FilePresence::kUnknown;
            return look;
        }
        if (presence == FilePresence::kPresent) {
            f.backup = generation;
            found = FilePresence::kPresent;
        }
    }
    return {};
}

// Finds which way the unpatch goes, in `r.decision`; fails as the unpatch would.
Status chooseRoute(Reading& r, const OperationLog& log) {
    FilePresence presence = FilePresence::kUnknown;
    if (Status look = LookFor(r.files.file, presence); !look.ok()) {
        return look;
    }
    if (presence == FilePresence::kAbsent) {
        log.Say("target missing at %s (nothing to do)\n",
                platform::DisplayPath(r.files.file).c_str());
        r.decision = UnpatchDecision::kNothingToDo;
        return {};
    }
    if (Status resolved = ResolveWriteTarget(r.files.file, r.files.dir, r.files.target);
        !resolved.ok()) {
        return resolved;
    }
    FilePresence backup = FilePresence::kUnknown;
    if (Status look = findNewestBackup(r.files, backup); !look.ok()) {
        return look;
    }
    r.hasBackup = backup == FilePresence::kPresent;
    return r.hasBackup ? chooseWithBackup(r, log) : chooseWithoutBackup(r, log);
}

// Where the file's bytes are kept before an undo replaces edits made inside the injected
// sets: the newest copy when it holds these very bytes already (an undo cut short, run again),
// else the next generation. Fails when no copy can be made.
Status decideCopy(const Files& f, const std::string& bytes, fs::path& copy, bool& existing) {
    const fs::path first = SiblingPath(f.file, kBeforeUndoSuffix);
    Generations found;
    if (Status look = FindGenerations(first, f.dir, FailureKind::kCopyFailed, found); !look.ok()) {
        return look;
    }
    std::string newestBytes;
    existing = !found.present.empty() &&
               !platform::ReadWholeFile(found.newestPath(), kMaxFileBytes, newestBytes) &&
               newestBytes == bytes;
    if (existing) {
        copy = found.newestPath();
        return {};
    }
    return NextGeneration(first, found, FailureKind::kCopyFailed, copy);
}

// Whatever kept the copy from being made, the undo does not happen: nothing was changed.
Status copyFailed(const Files& f, const Status& why) {
    return Status::Failed(FailureKind::kCopyFailed,
                          "could not keep a copy of " + platform::DisplayPath(f.file) +
                              " before undoing the patch: " + why.message() +
                              " -- nothing was changed",
                          why.error());
}

// An undo in place puts back what the patch replaced; what someone changed inside the
// injected sets since would be gone with no trace, so the file's bytes are kept first.
Status keepCopyBeforeUndo(const Reading& r, const OperationLog& log) {
    const std::vector<std::string> edited = EditedActionSets(r.doc);
    if (edited.empty()) {
        return {};
    }
    fs::path copy;
    bool existing = false;
    Status kept = decideCopy(r.files, r.current, copy, existing);
    if (kept.ok() && !existing) {
        kept = KeepFile(copy, r.current, r.files.target, FailureKind::kCopyFailed, log);
        if (kept.ok()) {
            log.Wrote(copy);
        }
    }
    if (!kept.ok()) {
        return copyFailed(r.files, kept);
    }
    log.Say("kept a copy of %s as %s: the undo replaces the edits in %s\n",
            platform::DisplayPath(r.files.file).c_str(), platform::DisplayPath(copy).c_str(),
            joinedNames(edited).c_str());
    return {};
}

Status undo(Reading& r, const OperationLog& log) {
    if (Status kept = keepCopyBeforeUndo(r, log); !kept.ok()) {
        return kept;
    }
    const bool bytesUsable = r.hasBackup && r.backupMarker == nullptr;
    if (Status undone = undoInPlace(r.files, std::move(r.doc), std::move(r.original),
                                    bytesUsable ? &r.backupBytes : nullptr, r.current, log);
        !undone.ok()) {
        return undone;
    }
    const std::string fileText = platform::DisplayPath(r.files.file);
    if (r.hasBackup) {
        log.Say(
            "%s changed since it was patched; undid the patch in place and kept the backup "
            "%s\n",
            fileText.c_str(), platform::DisplayPath(r.files.backup).c_str());
    } else {
        log.Say("erased Vexlor markers + bindings in %s\n", fileText.c_str());
    }
    return {};
}

Status restoreAndUndo(Reading& r, const OperationLog& log) {
    const WhatWasRead read = r.currentDigest ? WhatWasRead(*r.currentDigest) : &r.current;
    if (r.backupMarker == nullptr) {
        r.original = json();  // not needed for the bytes, nor while the file is read again
        return restore(r.files, ContentOf(r.backupBytes), read, log);
    }
    Status restored = restore(r.files, StreamedJson(r.original), read, log);
    if (restored.ok()) {
        log.Say("the backup itself carried a patch (%s); erased Vexlor markers + bindings in %s\n",
                r.backupMarker, platform::DisplayPath(r.files.file).c_str());
    }
    return restored;
}

// The undo, or nothing, as `r.decision` says.
Status carryOut(Reading& r, const OperationLog& log) {
    switch (r.decision) {
        case UnpatchDecision::kRestore:
        case UnpatchDecision::kUndoInPlace:
            if (const std::string otherNames = OtherNamesWarning(r.files.target, log);
                !otherNames.empty()) {
                LogFormatted(log.sink(), "%s", otherNames.c_str());
            }
            return r.decision == UnpatchDecision::kRestore ? restoreAndUndo(r, log) : undo(r, log);
        case UnpatchDecision::kLeaveAlone:
        case UnpatchDecision::kNothingToDo:
        case UnpatchDecision::kWouldFail:
            break;
    }
    return {};
}

// The word a result gives each way an unpatch can end well.
const char* outcomeWord(UnpatchDecision decision) {
    switch (decision) {
        case UnpatchDecision::kRestore:
            return "restored";
        case UnpatchDecision::kUndoInPlace:
            return "undone_in_place";
        case UnpatchDecision::kLeaveAlone:
            return "left_alone";
        case UnpatchDecision::kNothingToDo:
        case UnpatchDecision::kWouldFail:
            break;
    }
    return "nothing_to_do";
}

Status unpatchOnce(const Files& f, const OperationLog& log) {
    Reading r;
    r.files = f;
    if (Status chosen = chooseRoute(r, log); !chosen.ok()) {
        return chosen;
    }
    if (Status done = carryOut(r, log); !done.ok()) {
        return done;
    }
    log.Did(outcomeWord(r.decision));
    // A cleanup an interrupted undo still owes is done after a file left alone, too.
    if (r.decision == UnpatchDecision::kRestore || r.decision == UnpatchDecision::kUndoInPlace ||
        (r.decision == UnpatchDecision::kLeaveAlone && cleanupOwed(f))) {
        cleanUp(f, log);
    }
    return {};
}

// The legacy profiles go after an undo, or after a file left alone while a cleanup is owed.
void planCleanup(const Files& f, UnpatchDecision decision, UnpatchPlan& plan) {
    const bool cleans = decision == UnpatchDecision::kRestore ||
                        decision == UnpatchDecision::kUndoInPlace ||
                        (decision == UnpatchDecision::kLeaveAlone && cleanupOwed(f));
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
        if (QueryPresence(generation, ec) != FilePresence::kAbsent) {
            plan.olderBackups.push_back(platform::DisplayPath(generation));
        }
    }
}

// The copy an undo in place keeps first, when it replaces edits; fails when it cannot.
Status planCopy(const Reading& r, UnpatchPlan& plan) {
    plan.editedActionSets = EditedActionSets(r.doc);
    if (plan.editedActionSets.empty()) {
        return {};
    }
    fs::path copy;
    bool existing = false;
    if (Status decided = decideCopy(r.files, r.current, copy, existing); !decided.ok()) {
        return copyFailed(r.files, decided);
    }
    plan.copyBeforeUndo = platform::DisplayPath(copy);
    return {};
}

Files filesIn(const fs::path& bindingsDir) {
    Files f{bindingsDir, bindingsDir / kBindingsFileName, {}, {}};
    f.backup = SiblingPath(f.file, kBackupSuffix);
    return f;
}

// Decides as the unpatch would, and fails where it would fail before it writes anything.
Status decideForPlan(Reading& r, const OperationLog& log, UnpatchPlan& plan) {
    Status status = ProbeForPlan(r.files.dir, log, plan.warnings);
    if (status.ok()) {
        status = chooseRoute(r, log);
    }
    const bool writes =
        r.decision == UnpatchDecision::kRestore || r.decision == UnpatchDecision::kUndoInPlace;
    if (status.ok() && writes) {
        status = MayReplace(r.files.target)
                     .Prefixed("cannot replace " + platform::DisplayPath(r.files.target) + ": ");
    }
    if (status.ok() && r.decision == UnpatchDecision::kUndoInPlace) {
        status = planCopy(r, plan);
    }
    return status;
}

// What the unpatch would do, the files it would write and remove, in `plan`.
void describePlan(Reading& r, const OperationLog& log, UnpatchPlan& plan) {
    const UnpatchDecision route = r.decision;
    plan.decision = route;
    const bool writes =
        route == UnpatchDecision::kRestore || route == UnpatchDecision::kUndoInPlace;
    if (r.hasBackup && writes) {
        planBackups(r, plan);
    }
    if (route == UnpatchDecision::kUndoInPlace) {
        plan.markerMissing = CarriedMarker(r.doc) == nullptr;
        undoInjectedContent(r.doc, r.original, &plan);
    }
    if (writes) {
        if (std::string otherNames = OtherNamesWarning(r.files.target, log); !otherNames.empty()) {
            plan.warnings.push_back(std::move(otherNames));
        }
    }
    planCleanup(r.files, route, plan);
}

}  // namespace

Status UnpatchBindingsDirectory(const fs::path& bindingsDir, const OperationLog& log) {
    const Files f = filesIn(bindingsDir);
    return RetryWhileWrittenMeanwhile(f.file, "unpatched", [&] { return unpatchOnce(f, log); });
}

UnpatchPlan PlanUnpatchGenericHmdBindingsFile(const fs::path& bindingsDir) {
    UnpatchPlan plan;
    Reading r;
    r.files = filesIn(bindingsDir);
    plan.bindingsFile = platform::DisplayPath(r.files.file);
    const OperationLog log("unpatch", KeepLastMessage(plan.detail));
    const Status status = decideForPlan(r, log, plan);
    if (!status.ok()) {
        log.Report(status);
        plan.failure = status.kind();
        return plan;
    }
    describePlan(r, log, plan);
    return plan;
}

}  // namespace vexlor
