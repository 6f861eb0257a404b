// The JSON reports: stable keys, so that an installer reading them keeps working across
// releases; a key changes meaning only with "format_version".
#include <nlohmann/json.hpp>

#include "vexlor/bindings.h"

namespace vexlor {

// The words each state is reported by, one table per state.
NLOHMANN_JSON_SERIALIZE_ENUM(BindingsFileState,
                             {{BindingsFileState::kMissing, "missing"},
                              {BindingsFileState::kNotReadable, "not_readable"},
                              {BindingsFileState::kNotJson, "not_json"},
                              {BindingsFileState::kEmpty, "empty"},
                              {BindingsFileState::kNotObject, "not_object"},
                              {BindingsFileState::kPatched, "patched"},
                              {BindingsFileState::kPatchedLegacy, "patched_legacy"},
                              {BindingsFileState::kNotPatched, "not_patched"},
                              {BindingsFileState::kPatchedMarkerMissing, "patched_marker_missing"}})
NLOHMANN_JSON_SERIALIZE_ENUM(FilePresence, {{FilePresence::kUnknown, "unknown"},
                                            {FilePresence::kAbsent, "absent"},
                                            {FilePresence::kPresent, "present"}})
NLOHMANN_JSON_SERIALIZE_ENUM(LegacyProfileState, {{LegacyProfileState::kUnknown, "unknown"},
                                                  {LegacyProfileState::kAbsent, "absent"},
                                                  {LegacyProfileState::kOurs, "ours"},
                                                  {LegacyProfileState::kNotOurs, "not_ours"}})
NLOHMANN_JSON_SERIALIZE_ENUM(DirectoryState, {{DirectoryState::kUnknown, "unknown"},
                                              {DirectoryState::kDirectory, "directory"},
                                              {DirectoryState::kMissing, "missing"},
                                              {DirectoryState::kNotDirectory, "not_directory"}})
NLOHMANN_JSON_SERIALIZE_ENUM(PatchDecision, {{PatchDecision::kWouldFail, "would_fail"},
                                             {PatchDecision::kPatch, "patch"},
                                             {PatchDecision::kAlreadyPatched, "already_patched"}})
NLOHMANN_JSON_SERIALIZE_ENUM(UnpatchDecision, {{UnpatchDecision::kWouldFail, "would_fail"},
                                               {UnpatchDecision::kRestore, "restore"},
                                               {UnpatchDecision::kUndoInPlace, "undo_in_place"},
                                               {UnpatchDecision::kLeaveAlone, "leave_alone"},
                                               {UnpatchDecision::kNothingToDo, "nothing_to_do"}})

namespace {

using json = nlohmann::json;

json bindingsJson(const BindingsFileReport& fact) {
    json out = {{"state", fact.state}};
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

json fileJson(const FileReport& fact) {
    json out = {{"state", fact.state}};
    if (fact.size) {
        out["size"] = *fact.size;
    }
    if (!fact.detail.empty()) {
        out["detail"] = fact.detail;
    }
    return out;
}

json legacyJson(const LegacyProfileReport& fact) {
    json out = {{"state", fact.state}};
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

// The keys every plan has, whatever its decision, so that a reader never tests for them.
json planJson(const char* operation, const json& decision, FailureKind failure,
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
        {"directory_state", status.directoryState},
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
    json out = planJson("patch", plan.decision, plan.failure, plan.detail, plan.bindingsFile,
                        plan.warnings);
    out["backup_to_make"] = plan.backupToMake;
    out["backup_kept"] = plan.backupKept;
    out["marker_missing"] = plan.markerMissing;
    out["added_action_sets"] = plan.addedActionSets;
    out["replaced_action_sets"] = plan.replacedActionSets;
    out["removed_markers"] = plan.removedMarkers;
    return out;
}

json UnpatchPlanToJson(const UnpatchPlan& plan) {
    json out = planJson("unpatch", plan.decision, plan.failure, plan.detail, plan.bindingsFile,
                        plan.warnings);
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
