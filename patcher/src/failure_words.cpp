// The plain words for a failed patch or unpatch. Every caller, the tool and the C interface
// alike, says them from here, so a user hears the same thing whichever program ran.
#include <string>

#include "vexlor/bindings.h"

namespace vexlor {

namespace {

namespace fs = std::filesystem;

constexpr const char* kSeeAbove = "see the message above";
// A todo of nullptr: the advice depends on whether the file could be caught mid-write.
constexpr const char* kUnreadableAdvice = nullptr;

struct Words {
    FailureKind kind;
    const char* name;
    const char* what;
    bool beforeAnyWrite;  // nothing at all was made; otherwise only the bindings file is unchanged
    const char* todo;
};

using K = FailureKind;
// In the enumeration's order; kOther last, which also stands for a kind not found here.
constexpr Words kWords[] = {
    {K::kNone, "none", kSeeAbove, false, "Correct what it names and try again."},
    {K::kMissing, "missing", nullptr,  // names the file: whatHappened()
     true, "Check the directory, or start the VR runtime once so that it writes it."},
    {K::kReadOnly, "read_only", "the bindings file is read-only", true,
     "Make it writable, or run as its owner, and try again."},
    {K::kDirectoryNotWritable, "directory_not_writable", "the bindings directory is not writable",
     true, "Make it writable, or run as its owner, and try again."},
    {K::kNoSpace, "no_space", "the disk is full", false, "Free some space and try again."},
    {K::kInUse, "in_use", "another program holds the file", false,
     "Close the VR runtime and try again."},
    {K::kNotReadable, "not_readable", "a file could not be read", true,
     "Check its permissions (see the message above) and try again."},
    {K::kEmpty, "empty", "the bindings file is empty", true, kUnreadableAdvice},
    {K::kNotJson, "not_json", "the bindings file is not JSON", true, kUnreadableAdvice},
    {K::kNotObject, "not_object", "the bindings file holds JSON, but not an object", true,
     kUnreadableAdvice},
    {K::kTooLarge, "too_large", "the file is too large or too deeply nested for a bindings file",
     true, "Check that the directory is the right one."},
    {K::kBusy, "busy", "another vexlor-bindings run on this directory is still working", true,
     "Wait for it to finish and try again."},
    {K::kKeptChanging, "kept_changing", "another program kept writing the bindings file", false,
     "Close the VR runtime and try again."},
    {K::kForeignLink, "foreign_link", "the bindings file links to a file of another user", true,
     "Put the file itself in the directory, or run as that user."},
    {K::kBackupFailed, "backup_failed", "the backup of the original could not be made", true,
     "Clear what stands in its way (see the message above) and try again."},
    {K::kBackupUnparsable, "backup_unparsable",
     "the backup does not parse, so there is no original to go back to", true,
     "Repair or remove the backup, then run unpatch again."},
    {K::kAccessNotCarried, "access_not_carried",
     "who may use the file (its group, access control list or security label) cannot be given "
     "to the new file",
     true, "Run as root, or as the file's owner in its group, and try again."},
    {K::kDirectoryNotReadable, "directory_not_readable",
     "the bindings directory cannot be read, which locking it against other runs needs", true,
     "Make it readable for its owner (chmod u+r), and try again."},
    {K::kDirectoryAppendOnly, "directory_append_only",
     "the bindings directory is append-only or immutable, so no file in it can be replaced", true,
     "Clear the attribute (chattr -a -i on the directory) and try again."},
    {K::kReadOnlyMount, "read_only_mount",
     "the file system of the bindings directory is mounted read-only", true,
     "Mount it writable and try again."},
    {K::kAbandoned, "abandoned", "it was interrupted", false, "Run it again to finish it."},
    {K::kCopyFailed, "copy_failed", "the copy of the file kept before an undo could not be made",
     true, "Clear what stands in its way (see the message above) and try again."},
    {K::kOther, "other", kSeeAbove, false, "Correct what it names and try again."},
};

const Words& wordsFor(FailureKind kind) {
    for (const Words& words : kWords) {
        if (words.kind == kind) {
            return words;
        }
    }
    return kWords[sizeof kWords / sizeof kWords[0] - 1];
}

// A file that cannot be read as JSON may be one the VR runtime is writing at that moment:
// copying the backup over it then would destroy the runtime's update. The backup is offered
// only once the runtime is closed and only while the file is still broken.
std::string unreadableAdvice(const FailureCircumstances& circumstances) {
    if (!circumstances.fileStillBroken) {
        return "The file has been written since and now reads as JSON: run the command again.";
    }
    return circumstances.hasBackup
               ? "Close the VR runtime first; if the file is then still empty or "
                 "broken, the backup " +
                     circumstances.newestBackup + " holds the original: copy it back over the file."
               : "Let the VR runtime write the file again, then retry.";
}

// What the failed run left on disk: the bindings file is never changed by a failure.
std::string onDisk(bool beforeAnyWrite, const FailureCircumstances& circumstances) {
    std::string text;
    if (circumstances.backupMade) {
        text = "the bindings file was not changed; its original was saved as " +
               circumstances.newestBackup;
    } else {
        text = beforeAnyWrite && circumstances.leftBehind.empty()
                   ? "nothing was changed"
                   : "the bindings file was not changed";
    }
    for (const std::string& file : circumstances.leftBehind) {
        text += "; the temporary file " + file + " could not be removed";
    }
    return text;
}

// Where nobody saw the patcher's message, a sentence that would point to it says its cause.
void standOnItsOwn(const FailureCircumstances& circumstances, std::string& what,
                   std::string& todo) {
    const std::string pointer = " (see the message above)";
    const std::size_t at = todo.find(pointer);
    if (circumstances.unshownCause.empty() || (at == std::string::npos && what != kSeeAbove)) {
        return;
    }
    if (at != std::string::npos) {
        todo.erase(at, pointer.size());
    }
    what = (what == kSeeAbove ? "" : what + ": ") + circumstances.unshownCause;
}

// The temporary files a failed run left, by name.
std::vector<std::string> leftBehind(const BindingsInspection& after) {
    std::vector<std::string> names;
    const std::string file = kBindingsFileName;
    if (after.temporaryFile.state == FilePresence::kPresent) {
        names.push_back(file + kTempSuffix);
    }
    if (after.backupTemporaryFile.state == FilePresence::kPresent) {
        names.push_back(file + kBackupSuffix + kTempSuffix);
    }
    return names;
}

}  // namespace

const char* FailureKindName(FailureKind kind) {
    return wordsFor(kind).name;
}

int BackupsPresent(const fs::path& bindingsDir) {
    int present = 0;
    const fs::path name = bindingsDir / (std::string(kBindingsFileName) + kBackupSuffix);
    for (int generation = 1; generation <= kMaxGenerations; ++generation) {
        fs::path path = name;
        if (generation > 1) {
            path += kGenerationSeparator + std::to_string(generation);
        }
        std::error_code ec;
        present += fs::exists(fs::symlink_status(path, ec)) ? 1 : 0;
    }
    return present;
}

FailureCircumstances FailureCircumstancesAfter(const fs::path& bindingsDir, int backupsBefore,
                                               bool dryRun) {
    const BindingsInspection after = InspectGenericHmdBindingsFile(bindingsDir);
    FailureCircumstances circumstances;
    circumstances.dryRun = dryRun;
    const bool firstBackup = after.backup.state == FilePresence::kPresent;
    circumstances.hasBackup = firstBackup || !after.newerBackups.empty();
    if (!after.newerBackups.empty()) {
        circumstances.newestBackup = after.newerBackups.back().fileName;
    }
    const int backupsAfter = (firstBackup ? 1 : 0) + static_cast<int>(after.newerBackups.size());
    circumstances.backupMade = !dryRun && backupsAfter > backupsBefore;
    circumstances.leftBehind = dryRun ? std::vector<std::string>() : leftBehind(after);
    // An empty file, or one that does not parse, may be caught while the runtime writes it.
    const BindingsFileState state = after.bindingsFile.state;
    circumstances.fileStillBroken = state == BindingsFileState::kEmpty ||
                                    state == BindingsFileState::kNotJson ||
                                    state == BindingsFileState::kNotObject;
    return circumstances;
}

namespace {

// What happened, in the words of the table; the one text that names a file takes the name from
// the library's table of names.
std::string whatHappened(const Words& words) {
    if (words.what == nullptr) {
        return std::string("there is no ") + kBindingsFileName + " in the directory";
    }
    return words.what;
}

}  // namespace

std::string FailureSentence(FailureKind kind, const FailureCircumstances& circumstances) {
    const Words& words = wordsFor(kind);
    std::string what = whatHappened(words);
    std::string todo = words.todo ? words.todo : unreadableAdvice(circumstances);
    if (kind == FailureKind::kBackupFailed && circumstances.backupMade) {
        what = "the backup of the original could not be flushed to storage";
        todo = "Check the disk (see the message above) and try again.";
    }
    standOnItsOwn(circumstances, what, todo);
    if (circumstances.dryRun) {
        return what + ". " + todo;
    }
    return what + "; " + onDisk(words.beforeAnyWrite, circumstances) + ". " + todo;
}

std::string DirectoryProblem(const BindingsInspection& inspection) {
    switch (inspection.directoryState) {
        case DirectoryState::kDirectory:
            return "";
        case DirectoryState::kMissing:
            return "no such directory: " + inspection.directory;
        case DirectoryState::kNotDirectory:
            return "not a directory: " + inspection.directory + "; name the folder that holds " +
                   kBindingsFileName;
        case DirectoryState::kUnknown:
            break;
    }
    return "cannot check " + inspection.directory + ": " + inspection.directoryDetail;
}

std::string UnchangedText(const FailureCircumstances& circumstances) {
    return onDisk(true, circumstances);
}

}  // namespace vexlor
