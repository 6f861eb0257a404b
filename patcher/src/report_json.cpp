// The JSON reports: stable keys, so that an installer reading them keeps working across
// releases; a key changes meaning only with "format_version".
#include <nlohmann/json.hpp>

#include "vexlor/bindings.h"

namespace vexlor {

namespace {

using json = nlohmann::json;

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

void addKeptFilesJson(const char* key, const std::vector<KeptFileReport>& kept, json& out) {
    for (const KeptFileReport& file : kept) {
        out[key][file.fileName] = fileJson(file.file);
    }
}

// Said only when it is news, so that a quiet directory reads as it always has.
void addOperationJson(const BindingsInspection& status, json& out) {
    if (status.operationInProgress) {
        out["operation_in_progress"] = true;
    }
    if (!status.operationDetail.empty()) {
        out["operation_detail"] = status.operationDetail;
    }
}

const char* patchDecisionKey(PatchDecision decision) {
    switch (decision) {
        case PatchDecision::kPatch:
            return "patch";
        case PatchDecision::kAlreadyPatched:
            return "already_patched";
        case PatchDecision::kWouldFail:
            break;
    }
    return "would_fail";
}

const char* unpatchDecisionKey(UnpatchDecision decision) {
    switch (decision) {
        case UnpatchDecision::kRestore:
            return "restore";
        case UnpatchDecision::kUndoInPlace:
            return "undo_in_place";
        case UnpatchDecision::kLeaveAlone:
            return "leave_alone";
        case UnpatchDecision::kNothingToDo:
            return "nothing_to_do";
        case UnpatchDecision::kWouldFail:
            break;
    }
    return "would_fail";
}

// The keys every plan has, whatever its decision, so that a reader never tests for them.
json planJson(const char* operation, const char* decision, FailureKind failure,
              const std::string& detail, const std::string& bindingsFile,
              const std::vector<std::string>& warnings) {
    return {{"format_version", 1},  {"operation", operation},
            {"decision", decision}, {"failure", FailureKindName(failure)},
            {"detail", detail},     {"bindings_file", bindingsFile},
            {"warnings", warnings}};
}

}  // namespace

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
    if (status.cleanupOwed.state != FilePresence::kAbsent) {
        out["cleanup_owed"] = fileJson(status.cleanupOwed);
    }
    out["legacy_profiles"] = legacy;
    addOperationJson(status, out);
    addKeptFilesJson("newer_backups", status.newerBackups, out);
    addKeptFilesJson("copies_before_undo", status.copiesBeforeUndo, out);
    return out;
}

json PatchPlanToJson(const PatchPlan& plan) {
    json out = planJson("patch", patchDecisionKey(plan.decision), plan.failure, plan.detail,
                        plan.bindingsFile, plan.warnings);
    out["backup_to_make"] = plan.backupToMake;
    out["backup_kept"] = plan.backupKept;
    out["marker_missing"] = plan.markerMissing;
    out["added_action_sets"] = plan.addedActionSets;
    out["replaced_action_sets"] = plan.replacedActionSets;
    out["removed_markers"] = plan.removedMarkers;
    return out;
}

json UnpatchPlanToJson(const UnpatchPlan& plan) {
    json out = planJson("unpatch", unpatchDecisionKey(plan.decision), plan.failure, plan.detail,
                        plan.bindingsFile, plan.warnings);
    out["backup"] = plan.backup;
    out["older_backups"] = plan.olderBackups;
    out["backup_marker"] = plan.backupMarker;
    out["marker_missing"] = plan.markerMissing;
    out["edited_action_sets"] = plan.editedActionSets;
    out["copy_before_undo"] = plan.copyBeforeUndo;
    out["restored_action_sets"] = plan.restoredActionSets;
    out["removed_action_sets"] = plan.removedActionSets;
    out["removed_markers"] = plan.removedMarkers;
    out["removed_legacy_profiles"] = plan.removedLegacyProfiles;
    return out;
}

std::string JsonText(const json& report) {
    return report.dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace vexlor
