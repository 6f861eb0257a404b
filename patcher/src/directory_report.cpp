// The read-only inspection: every file is only examined and read, never opened for writing,
// created or removed, and no hold is taken on the directory.
#include <system_error>

#include "failure.h"
#include "file_ops.h"
#include "json_file.h"
#include "legacy.h"
#include "names.h"
#include "platform.h"
#include "vexlor/bindings.h"

namespace vexlor {

namespace {

DirectoryState examineDirectory(const fs::path& dir, std::string& detail) {
    std::error_code ec;
    const fs::file_status status = fs::status(dir, ec);
    if (status.type() == fs::file_type::not_found) {
        return DirectoryState::kMissing;
    }
    if (ec) {
        detail = platform::ErrorText(ec);
        return DirectoryState::kUnknown;
    }
    return fs::is_directory(status) ? DirectoryState::kDirectory : DirectoryState::kNotDirectory;
}

BindingsFileReport classifyDocument(const DocumentOutline& outline) {
    BindingsFileReport report;
    // The patch takes null as an empty object, so such a file is patchable, not foreign.
    if (outline.type != nlohmann::json::value_t::object) {
        report.state = outline.type == nlohmann::json::value_t::null
                           ? BindingsFileState::kNotPatched
                           : BindingsFileState::kNotObject;
        report.jsonType = nlohmann::json(outline.type).type_name();
    } else if (const char* marker = CarriedMarker(outline)) {
        report.state = std::string(marker) == kMarkerKey ? BindingsFileState::kPatched
                                                         : BindingsFileState::kPatchedLegacy;
        report.marker = marker;
    } else {
        report.state = BindingsFileState::kNotPatched;
    }
    return report;
}

BindingsFileReport examineBindingsFile(const fs::path& file) {
    BindingsFileReport report;
    std::error_code ec;
    switch (QueryPresence(file, ec)) {
        case Presence::kAbsent:
            report.state = BindingsFileState::kMissing;
            return report;
        case Presence::kUnknown:
            report.state = BindingsFileState::kNotReadable;
            report.detail = platform::ErrorText(ec);
            return report;
        case Presence::kPresent:
            break;
    }
    DocumentOutline outline;
    LoadFailure failure = LoadFailure::kNone;
    const FailureScope scope;  // tells an empty file from other text that does not parse
    if (!ScanJsonFile(file, MarkerKeys(), outline, report.detail, failure)) {
        report.state = failure == LoadFailure::kRead ? BindingsFileState::kNotReadable
                       : scope.Result(false) == FailureKind::kEmpty ? BindingsFileState::kEmpty
                                                                    : BindingsFileState::kNotJson;
        if (report.state == BindingsFileState::kEmpty) {
            report.detail.clear();
        }
        return report;
    }
    return classifyDocument(outline);
}

FileReport examineFile(const fs::path& file) {
    FileReport report;
    std::error_code ec;
    switch (QueryPresence(file, ec)) {
        case Presence::kAbsent:
            return report;
        case Presence::kUnknown:
            report.state = FilePresence::kUnknown;
            report.detail = platform::ErrorText(ec);
            return report;
        case Presence::kPresent:
            break;
    }
    report.state = FilePresence::kPresent;
    const std::uintmax_t size = fs::file_size(file, ec);
    if (ec) {
        report.detail = platform::ErrorText(ec);
    } else {
        report.size = size;
    }
    return report;
}

// Ours on the same terms as unpatch's clean-up: either marker set to true. A file that cannot
// be read or parsed is simply not ours.
void classifyLegacyProfile(const fs::path& file, LegacyProfileReport& report) {
    DocumentOutline outline;
    std::string cause;
    LoadFailure failure = LoadFailure::kNone;
    report.state = LegacyProfileState::kNotOurs;
    if (!ScanJsonFile(file, MarkerKeys(), outline, cause, failure)) {
        return;
    }
    if (const char* marker = CarriedMarker(outline)) {
        report.state = LegacyProfileState::kOurs;
        report.marker = marker;
    }
}

LegacyProfileReport examineLegacyProfile(const fs::path& dir, const char* fileName) {
    LegacyProfileReport report;
    report.fileName = fileName;
    const fs::path file = dir / fileName;
    std::error_code ec;
    switch (QueryPresence(file, ec)) {
        case Presence::kAbsent:
            return report;
        case Presence::kUnknown:
            report.state = LegacyProfileState::kUnknown;
            report.detail = platform::ErrorText(ec);
            return report;
        case Presence::kPresent:
            break;
    }
    classifyLegacyProfile(file, report);
    return report;
}

void examineFiles(const fs::path& dir, BindingsInspection& inspection) {
    const fs::path bindingsFile = dir / kBindingsFileName;
    const fs::path backup = SiblingPath(bindingsFile, kBackupSuffix);
    inspection.bindingsFile = examineBindingsFile(bindingsFile);
    inspection.backup = examineFile(backup);
    inspection.temporaryFile = examineFile(SiblingPath(bindingsFile, kTempSuffix));
    inspection.backupTemporaryFile = examineFile(SiblingPath(backup, kTempSuffix));
    for (const char* fileName : kLegacyProfileFileNames) {
        inspection.legacyProfiles.push_back(examineLegacyProfile(dir, fileName));
    }
}

}  // namespace

BindingsInspection InspectGenericHmdBindingsFile(const fs::path& bindingsDir,
                                                 InspectionScope scope) {
    BindingsInspection inspection;
    inspection.directory = platform::DisplayPath(bindingsDir);
    inspection.directoryState = examineDirectory(bindingsDir, inspection.directoryDetail);
    if (inspection.directoryState != DirectoryState::kDirectory ||
        scope == InspectionScope::kDirectoryOnly) {
        return inspection;
    }
    if (std::error_code ec =
            platform::ProbeDirectoryLock(bindingsDir, inspection.operationInProgress)) {
        inspection.operationInProgress = false;
        inspection.operationDetail = platform::ErrorText(ec);
    }
    examineFiles(bindingsDir, inspection);
    return inspection;
}

}  // namespace vexlor
