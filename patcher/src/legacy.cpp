#include "legacy.h"

#include "file_ops.h"
#include "json_file.h"
#include "log.h"
#include "names.h"
#include "platform.h"

namespace vexlor {

namespace {

bool carriesEitherMarker(const fs::path& candidate) {
    JsonFile file;
    std::string cause;  // a file we cannot read or parse is simply not ours
    return LoadJsonFile(candidate, file, cause) &&
           (HasMarker(file.document, kMarkerKey) || HasLegacyMarker(file.document));
}

void cleanupCandidate(const fs::path& candidate, const Logger& log) {
    const std::string text = platform::DisplayPath(candidate);
    std::error_code ec;
    switch (QueryPresence(candidate, ec)) {
        case Presence::kAbsent:
            return;
        case Presence::kUnknown:
            LogFormatted(log, "Vexlor[unpatch]: cannot check %s: %s\n", text.c_str(),
                         platform::ErrorText(ec).c_str());
            return;
        case Presence::kPresent:
            break;
    }
    if (!carriesEitherMarker(candidate)) {
        LogFormatted(log, "Vexlor[unpatch]: %s is not ours -- leaving alone\n", text.c_str());
        return;
    }
    if (std::error_code removeError = platform::RemoveFile(candidate)) {
        LogFormatted(log, "Vexlor[unpatch]: failed to remove %s: %s\n", text.c_str(),
                     platform::ErrorText(removeError).c_str());
        return;
    }
    LogFormatted(log, "Vexlor[unpatch]: removed %s\n", text.c_str());
}

}  // namespace

bool HasLegacyMarker(const nlohmann::json& doc) {
    return HasMarker(doc, kLegacyMarkerKey);
}

std::array<fs::path, 2> LegacyProfilePaths(const fs::path& bindingsDir,
                                           const std::string& controllerType) {
    return {
        bindingsDir / fs::path("vrcompositor_bindings_" + controllerType + ".json"),
        bindingsDir / fs::path(controllerType + "_profile.json"),
    };
}

void CleanupLegacyProfiles(const fs::path& bindingsDir, const std::string& controllerType,
                           Logger log) {
    for (const fs::path& candidate : LegacyProfilePaths(bindingsDir, controllerType)) {
        cleanupCandidate(candidate, log);
    }
}

}  // namespace vexlor
