#include "legacy.h"

#include <utility>

#include "file_ops.h"
#include "json_file.h"
#include "log.h"
#include "platform/platform.h"

namespace vexlor {

namespace {

enum class Verdict { kOurs, kNotOurs, kUnknown };

// A file that parses without a marker, or not at all, is not ours; one that cannot be read
// is not ours either, as far as this cleanup goes, but it may be.
Verdict examine(const fs::path& candidate) {
    DocumentOutline outline;
    LoadFailure failure = LoadFailure::kNone;
    if (!ScanJsonFile(candidate, MarkerKeys(), outline, failure).ok()) {
        return failure == LoadFailure::kRead ? Verdict::kUnknown : Verdict::kNotOurs;
    }
    return CarriedMarker(outline) != nullptr ? Verdict::kOurs : Verdict::kNotOurs;
}

enum class Cleaned { kNothing, kRemoved, kLeftOurs };

Cleaned cleanupCandidate(const fs::path& candidate, const OperationLog& log) {
    const std::string text = platform::DisplayPath(candidate);
    FilePresence presence = FilePresence::kUnknown;
    if (const Status look = LookFor(candidate, presence); !look.ok()) {
        log.Report(look);
        return Cleaned::kLeftOurs;
    }
    if (presence == FilePresence::kAbsent) {
        return Cleaned::kNothing;
    }
    const Verdict verdict = examine(candidate);
    if (verdict != Verdict::kOurs) {
        log.Say("%s is not ours -- leaving alone\n", text.c_str());
        return verdict == Verdict::kUnknown ? Cleaned::kLeftOurs : Cleaned::kNothing;
    }
    if (std::error_code removeError = platform::RemoveFile(candidate)) {
        log.Say("failed to remove %s: %s\n", text.c_str(),
                platform::ErrorText(removeError).c_str());
        return Cleaned::kLeftOurs;
    }
    log.Removed(candidate);
    log.Say("removed %s\n", text.c_str());
    return Cleaned::kRemoved;
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

const std::vector<std::string_view>& MarkerKeys() {
    static const std::vector<std::string_view> keys = {kMarkerKey, kLegacyMarkerKey};
    return keys;
}

const char* CarriedMarker(const DocumentOutline& outline) {
    if (HasMarker(outline, kMarkerKey)) {
        return kMarkerKey;
    }
    return HasMarker(outline, kLegacyMarkerKey) ? kLegacyMarkerKey : nullptr;
}

std::array<fs::path, 2> LegacyProfilePaths(const fs::path& bindingsDir,
                                           const std::string& controllerType) {
    return {
        bindingsDir / fs::path("vrcompositor_bindings_" + controllerType + ".json"),
        bindingsDir / fs::path(controllerType + "_profile.json"),
    };
}

std::vector<fs::path> OwnLegacyProfiles(const fs::path& bindingsDir,
                                        const std::string& controllerType) {
    std::vector<fs::path> own;
    for (const fs::path& candidate : LegacyProfilePaths(bindingsDir, controllerType)) {
        std::error_code ec;
        if (QueryPresence(candidate, ec) != FilePresence::kAbsent &&
            examine(candidate) != Verdict::kNotOurs) {
            own.push_back(candidate);
        }
    }
    return own;
}

bool HasOwnLegacyProfile(const fs::path& bindingsDir, const std::string& controllerType) {
    return !OwnLegacyProfiles(bindingsDir, controllerType).empty();
}

bool CleanupLegacyProfiles(const fs::path& bindingsDir, const std::string& controllerType,
                           Logger sink) {
    // The cleanup is the last step of an unpatch, and speaks as the unpatch.
    return CleanupLegacyProfiles(bindingsDir, controllerType,
                                 OperationLog("unpatch", std::move(sink)));
}

bool CleanupLegacyProfiles(const fs::path& bindingsDir, const std::string& controllerType,
                           const OperationLog& log) {
    const auto candidates = LegacyProfilePaths(bindingsDir, controllerType);
    bool removedAny = false;
    bool complete = true;
    for (const fs::path& candidate : candidates) {
        const Cleaned cleaned = cleanupCandidate(candidate, log);
        removedAny = removedAny || cleaned == Cleaned::kRemoved;
        complete = complete && cleaned != Cleaned::kLeftOurs;
    }
    // Until the directory is flushed a power loss can bring the removed files back, after an
    // unpatch that has already reported them gone.
    if (removedAny) {
        if (std::error_code ec = platform::SyncDirectoryOf(candidates[0])) {
            log.Say("could not flush %s to storage: %s\n",
                    platform::DisplayPath(bindingsDir).c_str(), platform::ErrorText(ec).c_str());
            complete = false;
        }
    }
    return complete;
}

}  // namespace vexlor
