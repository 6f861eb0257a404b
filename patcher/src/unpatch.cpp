#include <string>

#include "file_ops.h"
#include "json_file.h"
#include "legacy.h"
#include "log.h"
#include "names.h"
#include "operations.h"
#include "platform.h"
#include "vexlor/bindings.h"

namespace vexlor {

namespace {

enum class Outcome { kUndone, kNotOurs, kFailed };

// Puts the backup's bytes back in one step, through the same temporary sibling as every
// other write, so the compositor never sees a half-restored file.
Outcome restoreFromBackup(const fs::path& target, const fs::path& backup, const Logger& log) {
    const std::string backupText = platform::DisplayPath(backup);
    std::string bytes;
    ReplaceResult restored;
    if (std::error_code ec = platform::ReadWholeFile(backup, kMaxFileBytes, bytes)) {
        restored = {ReplaceStep::kWrite, ec};
    } else {
        restored = ReplaceFileContents(target, bytes);
    }
    if (!restored.replaced()) {
        LogFormatted(log, "Vexlor[unpatch]: restore from %s failed: %s\n", backupText.c_str(),
                     platform::ErrorText(restored.error).c_str());
        return Outcome::kFailed;
    }
    const std::string targetText = platform::DisplayPath(target);
    LogFormatted(log, "Vexlor[unpatch]: restored %s from %s\n", targetText.c_str(),
                 backupText.c_str());
    if (restored.failedStep == ReplaceStep::kSync) {
        LogFormatted(log, "Vexlor[unpatch]: could not flush %s to storage: %s\n",
                     targetText.c_str(), platform::ErrorText(restored.error).c_str());
    }
    return Outcome::kUndone;
}

// Removes exactly what the patch adds; everything else in the document stays.
void eraseInjectedContent(nlohmann::json& doc) {
    const auto bindings = doc.find(kBindingsKey);
    if (bindings != doc.end() && bindings->is_object()) {
        for (const char* actionSet : kInjectedActionSets) {
            bindings->erase(actionSet);
        }
    }
    doc.erase(kMarkerKey);
    doc.erase(kLegacyMarkerKey);
}

Outcome eraseMarkedContent(const fs::path& target, const Logger& log) {
    const std::string targetText = platform::DisplayPath(target);
    JsonFile file;
    std::string cause;
    if (!LoadJsonFile(target, file, cause)) {
        LogFormatted(log, "Vexlor[unpatch]: failed to parse %s: %s\n", targetText.c_str(),
                     cause.c_str());
        return Outcome::kFailed;
    }
    if (!HasMarker(file.document, kMarkerKey) && !HasLegacyMarker(file.document)) {
        LogFormatted(log, "Vexlor[unpatch]: %s has no Vexlor marker -- leaving alone\n",
                     targetText.c_str());
        return Outcome::kNotOurs;
    }
    // The old text is not needed again; letting it go keeps it out of the write-back's peak.
    std::string().swap(file.bytes);
    eraseInjectedContent(file.document);
    if (!WriteJsonAtomically(target, file.document, log)) {
        return Outcome::kFailed;
    }
    LogFormatted(log, "Vexlor[unpatch]: erased Vexlor markers + bindings in %s\n",
                 targetText.c_str());
    return Outcome::kUndone;
}

}  // namespace

bool UnpatchBindingsDirectory(const fs::path& bindingsDir, const Logger& log) {
    const fs::path target = bindingsDir / kBindingsFileName;
    const fs::path backup = SiblingPath(target, kBackupSuffix);
    std::error_code ec;
    switch (QueryPresence(target, ec)) {
        case Presence::kAbsent:
            LogFormatted(log, "Vexlor[unpatch]: target missing at %s (nothing to do)\n",
                         platform::DisplayPath(target).c_str());
            return true;
        case Presence::kUnknown:
            LogFormatted(log, "Vexlor[unpatch]: cannot check %s: %s\n",
                         platform::DisplayPath(target).c_str(), platform::ErrorText(ec).c_str());
            return false;
        case Presence::kPresent:
            break;
    }
    Outcome outcome = Outcome::kFailed;
    switch (QueryPresence(backup, ec)) {
        case Presence::kPresent:
            outcome = restoreFromBackup(target, backup, log);
            break;
        case Presence::kAbsent:
            outcome = eraseMarkedContent(target, log);
            break;
        case Presence::kUnknown:
            LogFormatted(log, "Vexlor[unpatch]: cannot check %s: %s\n",
                         platform::DisplayPath(backup).c_str(), platform::ErrorText(ec).c_str());
            return false;
    }
    if (outcome == Outcome::kUndone) {
        CleanupLegacyProfiles(bindingsDir, kLegacyControllerType, log);
    }
    return outcome != Outcome::kFailed;
}

}  // namespace vexlor
