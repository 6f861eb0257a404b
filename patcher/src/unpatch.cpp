#include <string>

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
// had none), and takes out both markers; everything else in `doc` stays.
void undoInjectedContent(json& doc, const json& original) {
    const auto bindings = doc.find(kBindingsKey);
    if (bindings != doc.end() && bindings->is_object()) {
        const auto originalBindings =
            original.is_object() ? original.find(kBindingsKey) : original.end();
        const bool hadBindings = original.is_object() && originalBindings != original.end() &&
                                 originalBindings->is_object();
        for (const char* actionSet : kInjectedActionSets) {
            if (hadBindings && originalBindings->contains(actionSet)) {
                (*bindings)[actionSet] = originalBindings->at(actionSet);
            } else {
                bindings->erase(actionSet);
            }
        }
    }
    doc.erase(kMarkerKey);
    doc.erase(kLegacyMarkerKey);
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
    if (!restored.replaced()) {
        LogFormatted(log, "Vexlor[unpatch]: restore from %s failed: %s\n", backupText.c_str(),
                     platform::ErrorText(restored.error).c_str());
        return Step::kFailed;
    }
    const std::string fileText = platform::DisplayPath(f.file);
    LogFormatted(log, "Vexlor[unpatch]: restored %s from %s\n", fileText.c_str(),
                 backupText.c_str());
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
        LogFormatted(log, "Vexlor[unpatch]: restore from %s failed: %s\n",
                     platform::DisplayPath(f.backup).c_str(), cause.c_str());
    }
    return !ec;
}

// With a backup: its bytes come back when the file is still what the patch made of it;
// otherwise the file changed since, and what changed stays.
Step undoWithBackup(const Files& f, const Logger& log) {
    std::string backupBytes, current, cause;
    if (!readForRestore(f, backupBytes, current, log)) {
        return Step::kFailed;
    }
    json original, doc;
    const bool backupParsed = ParseJsonText(backupBytes, original, cause);
    if (current == backupBytes || (backupParsed && isPatchOf(original, current))) {
        return restore(f, backupBytes, current, log);
    }
    const std::string fileText = platform::DisplayPath(f.file);
    const std::string backupText = platform::DisplayPath(f.backup);
    if (!ParseJsonText(current, doc, cause)) {
        LogFormatted(log, "Vexlor[unpatch]: failed to parse %s: %s\n", fileText.c_str(),
                     cause.c_str());
        return Step::kFailed;
    }
    if (CarriedMarker(doc) == nullptr) {
        LogFormatted(log,
                     "Vexlor[unpatch]: %s no longer carries the patch (it changed since) "
                     "-- leaving alone; the backup %s is kept\n",
                     fileText.c_str(), backupText.c_str());
        return Step::kNotOurs;
    }
    if (!backupParsed) {
        LogFormatted(log,
                     "Vexlor[unpatch]: cannot undo the patch in %s: its backup %s does not "
                     "parse (%s) -- nothing was changed\n",
                     fileText.c_str(), backupText.c_str(), cause.c_str());
        return Step::kFailed;
    }
    const Step step = undoInPlace(f, std::move(doc), original, current, log);
    if (step == Step::kUndone) {
        LogFormatted(log,
                     "Vexlor[unpatch]: %s changed since it was patched; undid the patch in "
                     "place and kept the backup %s\n",
                     fileText.c_str(), backupText.c_str());
    }
    return step;
}

Step eraseWithoutBackup(const Files& f, const Logger& log) {
    const std::string fileText = platform::DisplayPath(f.file);
    JsonFile file;
    std::string cause;
    if (!LoadJsonFile(f.target, file, cause)) {
        LogFormatted(log, "Vexlor[unpatch]: failed to parse %s: %s\n", fileText.c_str(),
                     cause.c_str());
        return Step::kFailed;
    }
    if (CarriedMarker(file.document) == nullptr) {
        LogFormatted(log, "Vexlor[unpatch]: %s has no Vexlor marker -- leaving alone\n",
                     fileText.c_str());
        return Step::kNotOurs;
    }
    const Step step = undoInPlace(f, std::move(file.document), json(), file.bytes, log);
    if (step == Step::kUndone) {
        LogFormatted(log, "Vexlor[unpatch]: erased Vexlor markers + bindings in %s\n",
                     fileText.c_str());
    }
    return step;
}

Step unpatchOnce(const Files& f, const Logger& log) {
    switch (LookFor(f.file, kTag, log)) {
        case Presence::kAbsent:
            LogFormatted(log, "Vexlor[unpatch]: target missing at %s (nothing to do)\n",
                         platform::DisplayPath(f.file).c_str());
            return Step::kNothingToDo;
        case Presence::kUnknown:
            return Step::kFailed;
        case Presence::kPresent:
            break;
    }
    Files resolved = f;
    if (!ResolveWriteTarget(f.file, f.dir, kTag, log, resolved.target)) {
        return Step::kFailed;
    }
    switch (LookFor(f.backup, kTag, log)) {
        case Presence::kPresent:
            return undoWithBackup(resolved, log);
        case Presence::kAbsent:
            return eraseWithoutBackup(resolved, log);
        case Presence::kUnknown:
            break;
    }
    return Step::kFailed;
}

}  // namespace

bool UnpatchBindingsDirectory(const fs::path& bindingsDir, const Logger& log) {
    Files f{bindingsDir, bindingsDir / kBindingsFileName, {}, {}};
    f.backup = SiblingPath(f.file, kBackupSuffix);
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        switch (unpatchOnce(f, log)) {
            case Step::kUndone:
                cleanUp(f, log);
                return true;
            case Step::kNotOurs:
                // A cleanup an interrupted undo still owes is done now.
                if (fs::exists(fs::symlink_status(cleanupNote(f)))) {
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
    return false;
}

}  // namespace vexlor
