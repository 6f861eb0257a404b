#include "failure_text.h"

namespace vexlor::cli {

namespace {

constexpr const char* kSeeAbove = "see the message above";

// A file that cannot be read as JSON may be one the VR runtime is writing at that moment:
// copying the backup over it then would destroy the runtime's update. The backup is offered
// only once the runtime is closed and only while the file is still broken.
std::string unreadableAdvice(const FailureContext& context) {
    if (!context.fileStillBroken) {
        return "The file has been written since and now reads as JSON: run the command again.";
    }
    return context.hasBackup
               ? "Close the VR runtime first; if the file is then still empty or "
                 "broken, the backup " +
                     context.newestBackup + " holds the original: copy it back over the file."
               : "Let the VR runtime write the file again, then retry.";
}

struct Explanation {
    const char* what;
    bool beforeAnyWrite;  // nothing at all was made; otherwise only the bindings file is unchanged
    std::string todo;
};

Explanation explain(FailureKind kind, const FailureContext& context) {
    using K = FailureKind;
    switch (kind) {
        case K::kMissing:
            return {"there is no vrcompositor_bindings_generic_hmd.json in the directory", true,
                    "Check the directory, or start the VR runtime once so that it writes it."};
        case K::kReadOnly:
            return {"the bindings file is read-only", true,
                    "Make it writable, or run as its owner, and try again."};
        case K::kDirectoryNotWritable:
            return {"the bindings directory is not writable", true,
                    "Make it writable, or run as its owner, and try again."};
        case K::kNoSpace:
            return {"the disk is full", false, "Free some space and try again."};
        case K::kInUse:
            return {"another program holds the file", false, "Close the VR runtime and try again."};
        case K::kNotReadable:
            return {"a file could not be read", true,
                    "Check its permissions (see the message above) and try again."};
        case K::kEmpty:
            return {"the bindings file is empty", true, unreadableAdvice(context)};
        case K::kNotJson:
            return {"the bindings file is not JSON", true, unreadableAdvice(context)};
        case K::kNotObject:
            return {"the bindings file holds JSON, but not an object", true,
                    unreadableAdvice(context)};
        case K::kTooLarge:
            return {"the file is too large or too deeply nested for a bindings file", true,
                    "Check that the directory is the right one."};
        case K::kBusy:
            return {"another vexlor-bindings run on this directory is still working", true,
                    "Wait for it to finish and try again."};
        case K::kKeptChanging:
            return {"another program kept writing the bindings file", false,
                    "Close the VR runtime and try again."};
        case K::kForeignLink:
            return {"the bindings file links to a file of another user", true,
                    "Put the file itself in the directory, or run as that user."};
        case K::kBackupFailed:
            return {"the backup of the original could not be made", true,
                    "Clear what stands in its way (see the message above) and try again."};
        case K::kBackupUnparsable:
            return {"the backup does not parse, so there is no original to go back to", true,
                    "Repair or remove the backup, then run unpatch again."};
        case K::kAccessNotCarried:
            return {
                "who may use the file (its group, access control list or security label) "
                "cannot be given to the new file",
                true, "Run as root, or as the file's owner in its group, and try again."};
        case K::kDirectoryNotReadable:
            return {
                "the bindings directory cannot be read, which locking it against other runs "
                "needs",
                true, "Make it readable for its owner (chmod u+r), and try again."};
        case K::kDirectoryAppendOnly:
            return {
                "the bindings directory is append-only or immutable, so no file in it can be "
                "replaced",
                true, "Clear the attribute (chattr -a -i on the directory) and try again."};
        case K::kReadOnlyMount:
            return {"the file system of the bindings directory is mounted read-only", true,
                    "Mount it writable and try again."};
        case K::kAbandoned:
            return {"it was interrupted", false, "Run it again to finish it."};
        case K::kCopyFailed:
            return {"the copy of the file kept before an undo could not be made", true,
                    "Clear what stands in its way (see the message above) and try again."};
        case K::kNone:
        case K::kOther:
            break;
    }
    return {kSeeAbove, false, "Correct what it names and try again."};
}

// What the failed run left on disk: the bindings file is never changed by a failure.
std::string onDisk(bool beforeAnyWrite, const FailureContext& context) {
    std::string text;
    if (context.backupMade) {
        text =
            "the bindings file was not changed; its original was saved as " + context.newestBackup;
    } else {
        text = beforeAnyWrite && context.leftBehind.empty() ? "nothing was changed"
                                                            : "the bindings file was not changed";
    }
    for (const std::string& file : context.leftBehind) {
        text += "; the temporary file " + file + " could not be removed";
    }
    return text;
}

// Under --quiet a line that would point to the patcher's message says its cause instead.
void standOnItsOwn(const FailureContext& context, std::string& what, std::string& todo) {
    const std::string pointer = " (see the message above)";
    const std::size_t at = todo.find(pointer);
    if (context.unshownCause.empty() || (at == std::string::npos && what != kSeeAbove)) {
        return;
    }
    if (at != std::string::npos) {
        todo.erase(at, pointer.size());
    }
    what = (what == kSeeAbove ? "" : what + ": ") + context.unshownCause;
}

}  // namespace

std::string FailureLine(FailureKind kind, const FailureContext& context) {
    Explanation explanation = explain(kind, context);
    if (kind == FailureKind::kBackupFailed && context.backupMade) {
        explanation.what = "the backup of the original could not be flushed to storage";
        explanation.todo = "Check the disk (see the message above) and try again.";
    }
    std::string what = explanation.what;
    std::string todo = explanation.todo;
    standOnItsOwn(context, what, todo);
    std::string line = std::string("vexlor-bindings: ") + CommandName(context.command);
    if (context.dryRun) {
        return line + " would fail: " + what + ". " + todo + "\n";
    }
    return line + " failed: " + what + "; " + onDisk(explanation.beforeAnyWrite, context) + ". " +
           todo + "\n";
}

std::string InterruptedLine(bool finished, const FailureContext& context) {
    const std::string command = CommandName(context.command);
    std::string line = "vexlor-bindings: " + command + " interrupted; ";
    if (finished) {
        line += "it had finished: the bindings file is " + command + "ed";
    } else {
        line += onDisk(true, context);
    }
    return line + ".\n";
}

}  // namespace vexlor::cli
