#include <string>

#include "file_ops.h"
#include "inject.h"
#include "json_file.h"
#include "log.h"
#include "names.h"
#include "operations.h"
#include "platform.h"
#include "vexlor/bindings.h"

namespace vexlor {

namespace {

// Saves `originalBytes` at `backup` unless a backup already exists there. The bytes go to a
// temporary sibling first and are moved into place by a step that never replaces, so a
// backup is either whole or absent, and an existing one is never touched. A backup that is in
// place but could not be flushed to storage counts as made; `syncError` says so.
std::error_code writeBackupOnce(const fs::path& backup, const std::string& originalBytes,
                                const fs::path& bindingsFile, std::error_code& syncError) {
    const fs::path temp = SiblingPath(backup, kTempSuffix);
    std::error_code ec = platform::RemoveStaleEntry(temp);
    if (!ec) {
        ec = platform::WriteNewFileDurably(temp, originalBytes, bindingsFile);
    }
    if (!ec) {
        ec = platform::MoveNoReplace(temp, backup);
    }
    // On success too: a move that had to link may leave the temporary name beside the backup.
    // A name that will not go is removed by the next patch.
    platform::RemoveFile(temp);
    if (ec) {
        return ec;
    }
    syncError = platform::SyncDirectoryOf(backup);
    return {};
}

}  // namespace

bool PatchBindingsDirectory(const fs::path& bindingsDir, const Logger& log) {
    const fs::path bindingsFile = bindingsDir / kBindingsFileName;
    const std::string fileText = platform::DisplayPath(bindingsFile);

    std::error_code ec;
    switch (QueryPresence(bindingsFile, ec)) {
        case Presence::kAbsent:
            LogFormatted(log, "Vexlor[patch]: generic_hmd bindings missing at %s\n",
                         fileText.c_str());
            return false;
        case Presence::kUnknown:
            LogFormatted(log, "Vexlor[patch]: cannot check %s: %s\n", fileText.c_str(),
                         platform::ErrorText(ec).c_str());
            return false;
        case Presence::kPresent:
            break;
    }

    JsonFile file;
    std::string cause;
    if (!LoadJsonFile(bindingsFile, file, cause)) {
        LogFormatted(log, "Vexlor[patch]: failed to parse %s: %s\n", fileText.c_str(),
                     cause.c_str());
        return false;
    }
    if (HasMarker(file.document, kMarkerKey)) {
        LogFormatted(log, "Vexlor[patch]: generic_hmd bindings already patched\n");
        return true;
    }
    if (!file.document.is_object() && !file.document.is_null()) {
        LogFormatted(log, "Vexlor[patch]: %s is not a JSON object -- leaving alone\n",
                     fileText.c_str());
        return false;
    }

    // Refused before the backup, so that a patch that cannot be written changes nothing.
    if (std::error_code refusal = platform::CheckMayReplace(bindingsFile)) {
        LogFormatted(log, "Vexlor[patch]: rename to %s failed: %s\n", fileText.c_str(),
                     platform::ErrorText(refusal).c_str());
        return false;
    }

    const fs::path backup = SiblingPath(bindingsFile, kBackupSuffix);
    const fs::path backupTemp = SiblingPath(backup, kTempSuffix);
    // Only a definite "not found" skips nothing here: when the query fails, the backup is
    // attempted anyway, and the no-replace move keeps an existing one safe.
    if (QueryPresence(backup, ec) == Presence::kPresent) {
        // Once a backup exists no later call writes its temporary file again, so one left by
        // an interrupted backup would stay for good unless it goes here.
        if (std::error_code leftover = platform::RemoveFile(backupTemp)) {
            LogFormatted(log, "Vexlor[patch]: could not remove %s: %s\n",
                         platform::DisplayPath(backupTemp).c_str(),
                         platform::ErrorText(leftover).c_str());
        }
    } else {
        std::error_code syncError;
        if (std::error_code backupError =
                writeBackupOnce(backup, file.bytes, bindingsFile, syncError)) {
            LogFormatted(log, "Vexlor[patch]: backup write failed: %s\n",
                         platform::ErrorText(backupError).c_str());
        } else {
            LogFormatted(log, "Vexlor[patch]: backed up original to %s\n",
                         platform::DisplayPath(backup).c_str());
            if (syncError) {
                LogFormatted(log, "Vexlor[patch]: could not flush %s to storage: %s\n",
                             platform::DisplayPath(backup).c_str(),
                             platform::ErrorText(syncError).c_str());
            }
        }
    }

    // The original text is in the backup now; letting it go before the write-back keeps the
    // peak at the document and its new text instead of holding the old text as well.
    std::string().swap(file.bytes);
    InjectBindings(file.document);
    if (!WriteJsonAtomically(bindingsFile, file.document, log)) {
        return false;
    }
    LogFormatted(log, "Vexlor[patch]: patched %s\n", fileText.c_str());
    return true;
}

}  // namespace vexlor
