#include "legacy.h"

#include "file_ops.h"
#include "json_file.h"
#include "log.h"
#include "names.h"
#include "platform.h"

namespace vexlor {

namespace {

constexpr const char* kTag = "Vexlor[unpatch]: ";

bool carriesEitherMarker(const fs::path& candidate) {
    JsonFile file;
    std::string cause;  // a file we cannot read or parse is simply not ours
    return LoadJsonFile(candidate, file, cause) && CarriedMarker(file.document) != nullptr;
}

// True when the candidate was removed.
bool cleanupCandidate(const fs::path& candidate, const Logger& log) {
    const std::string text = platform::DisplayPath(candidate);
    if (LookFor(candidate, kTag, log) != Presence::kPresent) {
        return false;
    }
    if (!carriesEitherMarker(candidate)) {
        LogFormatted(log, "Vexlor[unpatch]: %s is not ours -- leaving alone\n", text.c_str());
        return false;
    }
    if (std::error_code removeError = platform::RemoveFile(candidate)) {
        LogFormatted(log, "Vexlor[unpatch]: failed to remove %s: %s\n", text.c_str(),
                     platform::ErrorText(removeError).c_str());
        return false;
    }
    LogFormatted(log, "Vexlor[unpatch]: removed %s\n", text.c_str());
    return true;
}

}  // namespace

bool HasLegacyMarker(const nlohmann::json& doc) {
    return HasMarker(doc, kLegacyMarkerKey);
}

const char* CarriedMarker(const nlohmann::json& doc) {
    if (HasMarker(doc, kMarkerKey)) {
        return kMarkerKey;
    }
    return HasLegacyMarker(doc) ? kLegacyMarkerKey : nullptr;
}

std::array<fs::path, 2> LegacyProfilePaths(const fs::path& bindingsDir,
                                           const std::string& controllerType) {
    return {
        bindingsDir / fs::path("vrcompositor_bindings_" + controllerType + ".json"),
        bindingsDir / fs::path(controllerType + "_profile.json"),
    };
}

bool HasOwnLegacyProfile(const fs::path& bindingsDir, const std::string& controllerType) {
    for (const fs::path& candidate : LegacyProfilePaths(bindingsDir, controllerType)) {
        std::error_code ec;
        if (QueryPresence(candidate, ec) == Presence::kPresent && carriesEitherMarker(candidate)) {
            return true;
        }
    }
    return false;
}

void CleanupLegacyProfiles(const fs::path& bindingsDir, const std::string& controllerType,
                           Logger log) {
    const auto candidates = LegacyProfilePaths(bindingsDir, controllerType);
    bool removedAny = false;
    for (const fs::path& candidate : candidates) {
        removedAny = cleanupCandidate(candidate, log) || removedAny;
    }
    // Until the directory is flushed a power loss can bring the removed files back, after an
    // unpatch that has already reported them gone.
    if (removedAny) {
        if (std::error_code ec = platform::SyncDirectoryOf(candidates[0])) {
            LogFormatted(log, "Vexlor[unpatch]: could not flush %s to storage: %s\n",
                         platform::DisplayPath(bindingsDir).c_str(),
                         platform::ErrorText(ec).c_str());
        }
    }
}

}  // namespace vexlor
