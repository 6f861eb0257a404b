#include <string>

#include "file_ops.h"
#include "inject.h"
#include "json_file.h"
#include "log.h"
#include "names.h"
#include "platform.h"
#include "vexlor/bindings.h"

namespace vexlor {

namespace {

// Saves `originalBytes` at `backup` unless a backup already exists there. The bytes go to a
// temporary sibling first and are moved into place by a step that never replaces, so a
// backup is either whole or absent, and an existing one is never touched.
std::error_code writeBackupOnce(const fs::path& backup, const std::string& originalBytes,
                                const fs::path& bindingsFile) {
    const fs::path temp = SiblingPath(backup, kTempSuffix);
    std::error_code ec = platform::WriteNewFileDurably(temp, originalBytes, bindingsFile);
    if (!ec) {
        ec = platform::MoveNoReplace(temp, backup);
    }
    if (ec) {
        platform::RemoveFile(temp);
    }
    return ec;
}

}  // namespace

bool PatchGenericHmdBindingsFile(const fs::path& bindingsDir, Logger log) {
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

    const fs::path backup = SiblingPath(bindingsFile, kBackupSuffix);
    // Only a definite "not found" skips nothing here: when the query fails, the backup is
    // attempted anyway, and the no-replace move keeps an existing one safe.
    if (QueryPresence(backup, ec) != Presence::kPresent) {
        if (std::error_code backupError = writeBackupOnce(backup, file.bytes, bindingsFile)) {
            LogFormatted(log, "Vexlor[patch]: backup write failed: %s\n",
                         platform::ErrorText(backupError).c_str());
        } else {
            LogFormatted(log, "Vexlor[patch]: backed up original to %s\n",
                         platform::DisplayPath(backup).c_str());
        }
    }

    InjectBindings(file.document);
    if (!AtomicWriteJson(bindingsFile, file.document, log)) {
        return false;
    }
    LogFormatted(log, "Vexlor[patch]: patched %s\n", fileText.c_str());
    return true;
}

}  // namespace vexlor
