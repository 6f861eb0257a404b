#include "dry_run.h"

#include <vector>

namespace vexlor::cli {

namespace {

std::string each(const char* verb, const std::vector<std::string>& items, const char* after = "") {
    std::string text;
    for (const std::string& item : items) {
        text += std::string("would ") + verb + " " + item + after + "\n";
    }
    return text;
}

// "a, b and c".
std::string joined(const std::vector<std::string>& names) {
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        text += (i == 0 ? "" : i + 1 == names.size() ? " and " : ", ") + names[i];
    }
    return text;
}

}  // namespace

std::string DescribePatchPlan(const PatchPlan& plan) {
    switch (plan.decision) {
        case PatchDecision::kAlreadyPatched:
            return "nothing to do: already patched\n";
        case PatchDecision::kWouldFail:
            return "";
        case PatchDecision::kPatch:
            break;
    }
    std::string text;
    if (!plan.backupKept.empty()) {
        text += "would keep the backup " + plan.backupKept + " and save the new original as " +
                plan.backupToMake + "\n";
    } else if (!plan.backupToMake.empty()) {
        text += "would save the original as " + plan.backupToMake + "\n";
    }
    if (plan.markerMissing) {
        text += std::string("would put back ") + kMarkerKey +
                ": the file holds the patch's action sets without it (no new backup)\n";
    } else {
        text += each("add", plan.addedActionSets);
        text += each("replace", plan.replacedActionSets);
    }
    text += each("remove", plan.removedMarkers);
    if (!plan.markerMissing) {
        text += std::string("would set ") + kMarkerKey + "\n";
    }
    return text + "would write " + plan.bindingsFile + "\n";
}

std::string DescribeUnpatchPlan(const UnpatchPlan& plan) {
    std::string text;
    switch (plan.decision) {
        case UnpatchDecision::kRestore:
            text = "would restore " + plan.bindingsFile + " from " + plan.backup + "\n";
            text += plan.backupMarker.empty()
                        ? ""
                        : "would then undo the patch the backup itself carries (" +
                              plan.backupMarker + ")\n";
            text += each("keep the older backup", plan.olderBackups);
            break;
        case UnpatchDecision::kUndoInPlace:
            text = "would undo the patch in place in " + plan.bindingsFile + "\n";
            text += plan.markerMissing ? std::string(
                                             "(the file holds the patch's action sets "
                                             "without its marker)\n")
                                       : "";
            if (!plan.copyBeforeUndo.empty()) {
                text += "would keep a copy of " + plan.bindingsFile + " as " + plan.copyBeforeUndo +
                        ": the undo replaces the edits in " + joined(plan.editedActionSets) + "\n";
            }
            text += each("restore", plan.restoredActionSets, " from the backup");
            text += each("remove", plan.removedActionSets);
            text += each("remove", plan.removedMarkers);
            text += plan.backup.empty() ? "" : "would keep the backup " + plan.backup + "\n";
            text += each("keep the older backup", plan.olderBackups);
            break;
        case UnpatchDecision::kLeaveAlone:
            text = "nothing to do: " + plan.bindingsFile + " carries no Vexlor marker\n";
            break;
        case UnpatchDecision::kNothingToDo:
            return "nothing to do: " + plan.bindingsFile + " is missing\n";
        case UnpatchDecision::kWouldFail:
            return "";
    }
    return text + each("remove legacy profile", plan.removedLegacyProfiles);
}

}  // namespace vexlor::cli
