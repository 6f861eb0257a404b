#include "status.h"

namespace vexlor::cli {

namespace {

using json = nlohmann::json;

std::string withDetail(const char* state, const std::string& detail) {
    return detail.empty() ? state : std::string(state) + ": " + detail;
}

std::string bindingsText(const BindingsFileReport& fact) {
    switch (fact.state) {
        case BindingsFileState::kMissing:
            return "missing";
        case BindingsFileState::kNotReadable:
            return withDetail("not readable", fact.detail);
        case BindingsFileState::kNotJson:
            return withDetail("not JSON", fact.detail);
        case BindingsFileState::kEmpty:
            return "empty";
        case BindingsFileState::kNotObject:
            return "not a JSON object (" + fact.jsonType + ")";
        case BindingsFileState::kPatched:
            return "patched (" + fact.marker + ")";
        case BindingsFileState::kPatchedLegacy:
            return "patched by an older release (" + fact.marker + ")";
        case BindingsFileState::kNotPatched:
            return fact.jsonType.empty()
                       ? "not patched"
                       : "not patched (" + fact.jsonType + ", which the patch makes an object)";
        case BindingsFileState::kPatchedMarkerMissing:
            return std::string(
                       "patched, marker missing (it holds the patch's action sets "
                       "without ") +
                   kMarkerKey + ")";
    }
    return "unknown";
}

std::string byteCount(std::uintmax_t size) {
    return std::to_string(size) + (size == 1 ? " byte" : " bytes");
}

std::string fileText(const FileReport& fact) {
    switch (fact.state) {
        case FilePresence::kAbsent:
            return "absent";
        case FilePresence::kUnknown:
            return withDetail("cannot check", fact.detail);
        case FilePresence::kPresent:
            break;
    }
    return fact.size ? "present, " + byteCount(*fact.size)
                     : withDetail("present, size unknown", fact.detail);
}

std::string legacyText(const LegacyProfileReport& fact) {
    switch (fact.state) {
        case LegacyProfileState::kAbsent:
            return "absent";
        case LegacyProfileState::kOurs:
            return "ours (" + fact.marker + ")" +
                   (fact.removedByUnpatch ? ""
                                          : "; unpatch leaves it now: it removes legacy profiles "
                                            "only after it restores or undoes the bindings file");
        case LegacyProfileState::kNotOurs:
            return "not ours";
        case LegacyProfileState::kUnknown:
            return withDetail("cannot check", fact.detail);
    }
    return "unknown";
}

const char* bindingsStateKey(BindingsFileState state) {
    switch (state) {
        case BindingsFileState::kMissing:
            return "missing";
        case BindingsFileState::kNotReadable:
            return "not_readable";
        case BindingsFileState::kNotJson:
            return "not_json";
        case BindingsFileState::kEmpty:
            return "empty";
        case BindingsFileState::kNotObject:
            return "not_object";
        case BindingsFileState::kPatched:
            return "patched";
        case BindingsFileState::kPatchedLegacy:
            return "patched_legacy";
        case BindingsFileState::kNotPatched:
            return "not_patched";
        case BindingsFileState::kPatchedMarkerMissing:
            return "patched_marker_missing";
    }
    return "unknown";
}

json bindingsJson(const BindingsFileReport& fact) {
    json out = {{"state", bindingsStateKey(fact.state)}};
    switch (fact.state) {
        case BindingsFileState::kNotReadable:
        case BindingsFileState::kNotJson:
            out["detail"] = fact.detail;
            break;
        case BindingsFileState::kNotObject:
        case BindingsFileState::kNotPatched:
            if (!fact.jsonType.empty()) {
                out["type"] = fact.jsonType;
            }
            break;
        case BindingsFileState::kPatched:
        case BindingsFileState::kPatchedLegacy:
            out["marker"] = fact.marker;
            break;
        case BindingsFileState::kMissing:
        case BindingsFileState::kEmpty:
        case BindingsFileState::kPatchedMarkerMissing:
            break;
    }
    return out;
}

const char* presenceKey(FilePresence state) {
    switch (state) {
        case FilePresence::kAbsent:
            return "absent";
        case FilePresence::kPresent:
            return "present";
        case FilePresence::kUnknown:
            return "unknown";
    }
    return "unknown";
}

json fileJson(const FileReport& fact) {
    json out = {{"state", presenceKey(fact.state)}};
    if (fact.size) {
        out["size"] = *fact.size;
    }
    if (!fact.detail.empty()) {
        out["detail"] = fact.detail;
    }
    return out;
}

const char* legacyKey(LegacyProfileState state) {
    switch (state) {
        case LegacyProfileState::kAbsent:
            return "absent";
        case LegacyProfileState::kOurs:
            return "ours";
        case LegacyProfileState::kNotOurs:
            return "not_ours";
        case LegacyProfileState::kUnknown:
            return "unknown";
    }
    return "unknown";
}

json legacyJson(const LegacyProfileReport& fact) {
    json out = {{"state", legacyKey(fact.state)}};
    if (!fact.marker.empty()) {
        out["marker"] = fact.marker;
    }
    if (!fact.detail.empty()) {
        out["detail"] = fact.detail;
    }
    if (fact.state == LegacyProfileState::kOurs) {
        out["removed_by_unpatch"] = fact.removedByUnpatch;
    }
    return out;
}

const char* directoryStateKey(DirectoryState state) {
    switch (state) {
        case DirectoryState::kDirectory:
            return "directory";
        case DirectoryState::kMissing:
            return "missing";
        case DirectoryState::kNotDirectory:
            return "not_directory";
        case DirectoryState::kUnknown:
            break;
    }
    return "unknown";
}

// One line per kept generation that is there; none at all in a directory without any.
std::string keptFilesText(const char* what, const std::vector<KeptFileReport>& kept) {
    std::string text;
    for (const KeptFileReport& file : kept) {
        text += std::string(what) + " " + file.fileName + ": " + fileText(file.file) + "\n";
    }
    return text;
}

void addKeptFilesJson(const char* key, const std::vector<KeptFileReport>& kept, json& out) {
    for (const KeptFileReport& file : kept) {
        out[key][file.fileName] = fileJson(file.file);
    }
}

// Said only when it is news, so that a quiet directory reads as it always has.
std::string operationText(const BindingsInspection& status) {
    if (status.operationInProgress) {
        return "another operation: running\n";
    }
    if (!status.operationDetail.empty()) {
        return "another operation: cannot check: " + status.operationDetail + "\n";
    }
    return "";
}

void addOperationJson(const BindingsInspection& status, json& out) {
    if (status.operationInProgress) {
        out["operation_in_progress"] = true;
    }
    if (!status.operationDetail.empty()) {
        out["operation_detail"] = status.operationDetail;
    }
}

}  // namespace

std::string DirectoryProblem(const BindingsInspection& inspection) {
    switch (inspection.directoryState) {
        case DirectoryState::kDirectory:
            return "";
        case DirectoryState::kMissing:
            return "no such directory: " + inspection.directory;
        case DirectoryState::kNotDirectory:
            return "not a directory: " + inspection.directory + "; name the folder that holds " +
                   kBindingsFileName;
        case DirectoryState::kUnknown:
            break;
    }
    return "cannot check " + inspection.directory + ": " + inspection.directoryDetail;
}

std::string FormatStatusText(const BindingsInspection& status) {
    std::string text = "directory: " + status.directory + "\n";
    text += operationText(status);
    text += "bindings file: " + bindingsText(status.bindingsFile) + "\n";
    text += "backup: " + fileText(status.backup) + "\n";
    text += keptFilesText("newer backup", status.newerBackups);
    text += keptFilesText("copy before undo", status.copiesBeforeUndo);
    text += "temporary file: " + fileText(status.temporaryFile) + "\n";
    text += "backup temporary file: " + fileText(status.backupTemporaryFile) + "\n";
    for (const LegacyProfileReport& profile : status.legacyProfiles) {
        text += "legacy profile " + profile.fileName + ": " + legacyText(profile) + "\n";
    }
    return text;
}

json StatusToJson(const BindingsInspection& status) {
    json out = {
        {"format_version", 1},
        {"directory", status.directory},
        {"directory_state", directoryStateKey(status.directoryState)},
    };
    if (status.directoryState != DirectoryState::kDirectory) {
        // Nothing in it was examined: a script still learns why there is no more to say.
        if (!status.directoryDetail.empty()) {
            out["directory_detail"] = status.directoryDetail;
        }
        return out;
    }
    json legacy = json::object();
    for (const LegacyProfileReport& profile : status.legacyProfiles) {
        legacy[profile.fileName] = legacyJson(profile);
    }
    out["bindings_file"] = bindingsJson(status.bindingsFile);
    out["backup"] = fileJson(status.backup);
    out["temporary_file"] = fileJson(status.temporaryFile);
    out["backup_temporary_file"] = fileJson(status.backupTemporaryFile);
    out["legacy_profiles"] = legacy;
    addOperationJson(status, out);
    addKeptFilesJson("newer_backups", status.newerBackups, out);
    addKeptFilesJson("copies_before_undo", status.copiesBeforeUndo, out);
    return out;
}

}  // namespace vexlor::cli
