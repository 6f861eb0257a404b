#include "status.h"

#include <system_error>

#include "file_ops.h"
#include "json_file.h"
#include "legacy.h"
#include "names.h"
#include "platform.h"

namespace vexlor::cli {

namespace {

using json = nlohmann::json;

BindingsFact classifyDocument(const json& document) {
    if (!document.is_object()) {
        return {BindingsState::kNotObject, document.type_name()};
    }
    if (HasMarker(document, kMarkerKey)) {
        return {BindingsState::kPatched, kMarkerKey};
    }
    if (HasLegacyMarker(document)) {
        return {BindingsState::kPatchedLegacy, kLegacyMarkerKey};
    }
    return {BindingsState::kNotPatched, ""};
}

// Read exactly as the patch and unpatch operations read it, so "not JSON" here means they
// would refuse the file too.
BindingsFact inspectBindingsFile(const fs::path& file) {
    std::error_code ec;
    switch (QueryPresence(file, ec)) {
        case Presence::kAbsent:
            return {BindingsState::kMissing, ""};
        case Presence::kUnknown:
            return {BindingsState::kNotReadable, platform::ErrorText(ec)};
        case Presence::kPresent:
            break;
    }
    JsonFile loaded;
    std::string cause;
    LoadFailure failure = LoadFailure::kNone;
    if (!LoadJsonFile(file, loaded, cause, failure)) {
        const BindingsState state =
            failure == LoadFailure::kRead ? BindingsState::kNotReadable : BindingsState::kNotJson;
        return {state, cause};
    }
    return classifyDocument(loaded.document);
}

FileFact inspectFile(const fs::path& file) {
    std::error_code ec;
    switch (QueryPresence(file, ec)) {
        case Presence::kAbsent:
            return {PresenceState::kAbsent, std::nullopt, ""};
        case Presence::kUnknown:
            return {PresenceState::kUnknown, std::nullopt, platform::ErrorText(ec)};
        case Presence::kPresent:
            break;
    }
    const std::uintmax_t size = fs::file_size(file, ec);
    if (ec) {
        return {PresenceState::kPresent, std::nullopt, platform::ErrorText(ec)};
    }
    return {PresenceState::kPresent, size, ""};
}

// Ours on the same terms as the unpatch operation's clean-up: either marker set to true.
LegacyProfileFact inspectLegacyProfile(const fs::path& file) {
    LegacyProfileFact fact;
    fact.fileName = file.filename().u8string();
    std::error_code ec;
    switch (QueryPresence(file, ec)) {
        case Presence::kAbsent:
            fact.state = LegacyState::kAbsent;
            return fact;
        case Presence::kUnknown:
            fact.state = LegacyState::kUnknown;
            fact.detail = platform::ErrorText(ec);
            return fact;
        case Presence::kPresent:
            break;
    }
    JsonFile loaded;
    std::string cause;  // a file that cannot be read or parsed is simply not ours
    fact.state = LegacyState::kNotOurs;
    if (LoadJsonFile(file, loaded, cause)) {
        if (HasMarker(loaded.document, kMarkerKey)) {
            fact.state = LegacyState::kOurs;
            fact.marker = kMarkerKey;
        } else if (HasLegacyMarker(loaded.document)) {
            fact.state = LegacyState::kOurs;
            fact.marker = kLegacyMarkerKey;
        }
    }
    return fact;
}

std::string withDetail(const char* state, const std::string& detail) {
    return detail.empty() ? state : std::string(state) + ": " + detail;
}

std::string bindingsText(const BindingsFact& fact) {
    switch (fact.state) {
        case BindingsState::kMissing:
            return "missing";
        case BindingsState::kNotReadable:
            return withDetail("not readable", fact.detail);
        case BindingsState::kNotJson:
            return withDetail("not JSON", fact.detail);
        case BindingsState::kNotObject:
            return "not a JSON object (" + fact.detail + ")";
        case BindingsState::kPatched:
            return "patched (" + fact.detail + ")";
        case BindingsState::kPatchedLegacy:
            return "patched by an older release (" + fact.detail + ")";
        case BindingsState::kNotPatched:
            return "not patched";
    }
    return "unknown";
}

std::string byteCount(std::uintmax_t size) {
    return std::to_string(size) + (size == 1 ? " byte" : " bytes");
}

std::string fileText(const FileFact& fact) {
    switch (fact.state) {
        case PresenceState::kAbsent:
            return "absent";
        case PresenceState::kUnknown:
            return withDetail("cannot check", fact.detail);
        case PresenceState::kPresent:
            break;
    }
    return fact.size ? "present, " + byteCount(*fact.size)
                     : withDetail("present, size unknown", fact.detail);
}

std::string legacyText(const LegacyProfileFact& fact) {
    switch (fact.state) {
        case LegacyState::kAbsent:
            return "absent";
        case LegacyState::kOurs:
            return "ours (" + fact.marker + ")";
        case LegacyState::kNotOurs:
            return "not ours";
        case LegacyState::kUnknown:
            return withDetail("cannot check", fact.detail);
    }
    return "unknown";
}

const char* bindingsStateKey(BindingsState state) {
    switch (state) {
        case BindingsState::kMissing:
            return "missing";
        case BindingsState::kNotReadable:
            return "not_readable";
        case BindingsState::kNotJson:
            return "not_json";
        case BindingsState::kNotObject:
            return "not_object";
        case BindingsState::kPatched:
            return "patched";
        case BindingsState::kPatchedLegacy:
            return "patched_legacy";
        case BindingsState::kNotPatched:
            return "not_patched";
    }
    return "unknown";
}

json bindingsJson(const BindingsFact& fact) {
    json out = {{"state", bindingsStateKey(fact.state)}};
    switch (fact.state) {
        case BindingsState::kNotReadable:
        case BindingsState::kNotJson:
            out["detail"] = fact.detail;
            break;
        case BindingsState::kNotObject:
            out["type"] = fact.detail;
            break;
        case BindingsState::kPatched:
        case BindingsState::kPatchedLegacy:
            out["marker"] = fact.detail;
            break;
        case BindingsState::kMissing:
        case BindingsState::kNotPatched:
            break;
    }
    return out;
}

const char* presenceKey(PresenceState state) {
    switch (state) {
        case PresenceState::kAbsent:
            return "absent";
        case PresenceState::kPresent:
            return "present";
        case PresenceState::kUnknown:
            return "unknown";
    }
    return "unknown";
}

json fileJson(const FileFact& fact) {
    json out = {{"state", presenceKey(fact.state)}};
    if (fact.size) {
        out["size"] = *fact.size;
    }
    if (!fact.detail.empty()) {
        out["detail"] = fact.detail;
    }
    return out;
}

const char* legacyKey(LegacyState state) {
    switch (state) {
        case LegacyState::kAbsent:
            return "absent";
        case LegacyState::kOurs:
            return "ours";
        case LegacyState::kNotOurs:
            return "not_ours";
        case LegacyState::kUnknown:
            return "unknown";
    }
    return "unknown";
}

json legacyJson(const LegacyProfileFact& fact) {
    json out = {{"state", legacyKey(fact.state)}};
    if (!fact.marker.empty()) {
        out["marker"] = fact.marker;
    }
    if (!fact.detail.empty()) {
        out["detail"] = fact.detail;
    }
    return out;
}

}  // namespace

std::string DirectoryProblem(const fs::path& dir) {
    std::error_code ec;
    const fs::file_status status = fs::status(dir, ec);
    if (status.type() == fs::file_type::not_found) {
        return "no such directory: " + platform::DisplayPath(dir);
    }
    if (ec) {
        return "cannot check " + platform::DisplayPath(dir) + ": " + platform::ErrorText(ec);
    }
    if (!fs::is_directory(status)) {
        return "not a directory: " + platform::DisplayPath(dir);
    }
    return "";
}

DirectoryStatus InspectDirectory(const fs::path& dir) {
    const fs::path bindingsFile = dir / kBindingsFileName;
    const fs::path backup = SiblingPath(bindingsFile, kBackupSuffix);
    DirectoryStatus status;
    status.directory = platform::DisplayPath(dir);
    status.bindingsFile = inspectBindingsFile(bindingsFile);
    status.backup = inspectFile(backup);
    status.temporaryFile = inspectFile(SiblingPath(bindingsFile, kTempSuffix));
    status.backupTemporaryFile = inspectFile(SiblingPath(backup, kTempSuffix));
    for (const fs::path& profile : LegacyProfilePaths(dir, kLegacyControllerType)) {
        status.legacyProfiles.push_back(inspectLegacyProfile(profile));
    }
    return status;
}

std::string FormatStatusText(const DirectoryStatus& status) {
    std::string text = "directory: " + status.directory + "\n";
    text += "bindings file: " + bindingsText(status.bindingsFile) + "\n";
    text += "backup: " + fileText(status.backup) + "\n";
    text += "temporary file: " + fileText(status.temporaryFile) + "\n";
    text += "backup temporary file: " + fileText(status.backupTemporaryFile) + "\n";
    for (const LegacyProfileFact& profile : status.legacyProfiles) {
        text += "legacy profile " + profile.fileName + ": " + legacyText(profile) + "\n";
    }
    return text;
}

json StatusToJson(const DirectoryStatus& status) {
    json legacy = json::object();
    for (const LegacyProfileFact& profile : status.legacyProfiles) {
        legacy[profile.fileName] = legacyJson(profile);
    }
    return {
        {"format_version", 1},
        {"directory", status.directory},
        {"bindings_file", bindingsJson(status.bindingsFile)},
        {"backup", fileJson(status.backup)},
        {"temporary_file", fileJson(status.temporaryFile)},
        {"backup_temporary_file", fileJson(status.backupTemporaryFile)},
        {"legacy_profiles", legacy},
    };
}

}  // namespace vexlor::cli
