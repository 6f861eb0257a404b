#include "status.h"

namespace vexlor::cli {

namespace {

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

// One line per kept generation that is there; none at all in a directory without any.
std::string keptFilesText(const char* what, const std::vector<KeptFileReport>& kept) {
    std::string text;
    for (const KeptFileReport& file : kept) {
        text += std::string(what) + " " + file.fileName + ": " + fileText(file.file) + "\n";
    }
    return text;
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

}  // namespace

std::string FormatStatusText(const BindingsInspection& status) {
    std::string text = "directory: " + status.directory + "\n";
    text += operationText(status);
    text += "bindings file: " + bindingsText(status.bindingsFile) + "\n";
    text += "backup: " + fileText(status.backup) + "\n";
    text += keptFilesText("newer backup", status.newerBackups);
    text += keptFilesText("copy before undo", status.copiesBeforeUndo);
    text += "temporary file: " + fileText(status.temporaryFile) + "\n";
    text += "backup temporary file: " + fileText(status.backupTemporaryFile) + "\n";
    // Said only when it is there, as the kept files are.
    if (status.cleanupOwed.state != FilePresence::kAbsent) {
        text += "cleanup owed: " + fileText(status.cleanupOwed) + "\n";
    }
    for (const LegacyProfileReport& profile : status.legacyProfiles) {
        text += "legacy profile " + profile.fileName + ": " + legacyText(profile) + "\n";
    }
    return text;
}

}  // namespace vexlor::cli
