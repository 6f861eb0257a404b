#include <exception>
#include <string>

#include "file_ops.h"
#include "log.h"
#include "names.h"
#include "operations.h"
#include "platform.h"

namespace vexlor {

fs::path SiblingPath(const fs::path& file, const char* suffix) {
    fs::path sibling = file;
    sibling += suffix;
    return sibling;
}

Presence QueryPresence(const fs::path& path, std::error_code& ec) {
    const fs::file_status status = fs::status(path, ec);
    if (status.type() == fs::file_type::not_found) {
        ec.clear();
        return Presence::kAbsent;
    }
    return ec ? Presence::kUnknown : Presence::kPresent;
}

ReplaceResult ReplaceFileContents(const fs::path& target, std::string_view bytes) {
    const fs::path temp = SiblingPath(target, kTempSuffix);
    ReplaceResult result;
    if (std::error_code ec = platform::CheckMayReplace(target)) {
        return {ReplaceStep::kRename, ec};
    }
    std::error_code ec = platform::RemoveStaleEntry(temp);
    if (!ec) {
        ec = platform::WriteNewFileDurably(temp, bytes, target);
    }
    if (ec) {
        result = {ReplaceStep::kWrite, ec};
    } else if (std::error_code renameError = platform::ReplaceFile(temp, target)) {
        result = {ReplaceStep::kRename, renameError};
    } else {
        // The rename has happened, so the temporary file is gone either way.
        if (std::error_code syncError = platform::SyncDirectoryOf(target)) {
            result = {ReplaceStep::kSync, syncError};
        }
        return result;
    }
    // The failure is what gets reported; a temporary file that will not go away either is
    // replaced by the next write anyway.
    platform::RemoveFile(temp);
    return result;
}

bool WriteJsonAtomically(const fs::path& target, const nlohmann::json& j, const Logger& log) {
    const std::string targetText = platform::DisplayPath(target);
    ReplaceResult replaced;
    try {
        const std::string serialized =
            j.dump(4, ' ', false, nlohmann::json::error_handler_t::strict);
        replaced = ReplaceFileContents(target, serialized);
    } catch (const std::exception& e) {
        // Serialization (invalid UTF-8, memory) failed before anything of this call reached
        // the disk; a stale temporary file is removed all the same, so none survives a failure.
        platform::RemoveFile(SiblingPath(target, kTempSuffix));
        LogFormatted(log, "Vexlor[patch]: tmp write failed for %s: %s\n", targetText.c_str(),
                     e.what());
        return false;
    }
    if (replaced.failedStep == ReplaceStep::kWrite) {
        LogFormatted(log, "Vexlor[patch]: tmp write failed for %s: %s\n", targetText.c_str(),
                     platform::ErrorText(replaced.error).c_str());
        return false;
    }
    if (replaced.failedStep == ReplaceStep::kRename) {
        LogFormatted(log, "Vexlor[patch]: rename to %s failed: %s\n", targetText.c_str(),
                     platform::ErrorText(replaced.error).c_str());
        return false;
    }
    // The file does hold the new document; reporting failure would be untrue, and a caller
    // that retried would find it already done. Only a crash could still undo the rename.
    if (replaced.failedStep == ReplaceStep::kSync) {
        LogFormatted(log, "Vexlor[patch]: wrote %s, but could not flush it to storage: %s\n",
                     targetText.c_str(), platform::ErrorText(replaced.error).c_str());
    }
    return true;
}

}  // namespace vexlor
