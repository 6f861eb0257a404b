#include <exception>
#include <string>

#include "failure.h"
#include "file_ops.h"
#include "json_file.h"
#include "log.h"
#include "names.h"
#include "operations.h"
#include "platform.h"

namespace vexlor {

namespace {

// The cause of a failed write names the file it is about when that is not the target: a
// stale temporary file that cannot be cleared blocks every write until someone removes it.
std::string writeFailureCause(const ReplaceResult& result) {
    const std::string cause = platform::ErrorText(result.error);
    if (result.culprit.empty()) {
        return cause;
    }
    return "cannot clear the stale temporary file " + platform::DisplayPath(result.culprit) + ": " +
           cause;
}

}  // namespace

bool SerializeForWriting(const nlohmann::json& j, std::string& out, std::string& cause) {
    try {
        out = j.dump(4, ' ', false, nlohmann::json::error_handler_t::strict);
    } catch (const std::exception& e) {
        NoteFailure(FailureKind::kNotJson);  // text that is not UTF-8, which JSON must be
        cause = e.what();
        return false;
    }
    // What the patcher writes it must be able to read back.
    if (out.size() > kMaxFileBytes) {
        NoteFailure(FailureKind::kTooLarge);
        cause = "the document would be larger than " + std::to_string(kMaxFileBytes >> 20) +
                " MiB, more than any bindings file holds";
        std::string().swap(out);
        return false;
    }
    return true;
}

bool ReportWriteBack(const ReplaceResult& result, const fs::path& target, const Logger& log) {
    const std::string targetText = platform::DisplayPath(target);
    switch (result.failedStep) {
        case ReplaceStep::kNone:
            return true;
        case ReplaceStep::kWrite:
            LogFormatted(log, "Vexlor[patch]: tmp write failed for %s: %s\n", targetText.c_str(),
                         writeFailureCause(result).c_str());
            return false;
        case ReplaceStep::kRename:
        case ReplaceStep::kChanged:
            LogFormatted(log, "Vexlor[patch]: rename to %s failed: %s\n", targetText.c_str(),
                         platform::ErrorText(result.error).c_str());
            return false;
        case ReplaceStep::kSync:
            // The file does hold the new document; reporting failure would be untrue, and a
            // caller that retried would find it already done. Only a crash could still undo
            // the rename.
            LogFormatted(log, "Vexlor[patch]: wrote %s, but could not flush it to storage: %s\n",
                         targetText.c_str(), platform::ErrorText(result.error).c_str());
            return true;
    }
    return false;
}

bool WriteJsonAtomically(const fs::path& target, const nlohmann::json& j, const Logger& log) {
    std::string serialized;
    std::string cause;
    if (!SerializeForWriting(j, serialized, cause)) {
        // Nothing of this call reached the disk; a stale temporary file is removed all the
        // same, so none survives a failure.
        platform::RemoveFile(SiblingPath(target, kTempSuffix));
        LogFormatted(log, "Vexlor[patch]: tmp write failed for %s: %s\n",
                     platform::DisplayPath(target).c_str(), cause.c_str());
        return false;
    }
    return ReportWriteBack(ReplaceFileContents(target, serialized), target, log);
}

}  // namespace vexlor
