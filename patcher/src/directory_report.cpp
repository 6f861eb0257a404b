// The read-only inspection: every file is only examined and read, never opened for writing,
// created or removed, and no hold is taken on the directory.
#include <system_error>

#include "failure.h"
#include "file_ops.h"
#include "inject.h"
#include "json_file.h"
#include "kept_files.h"
#include "legacy.h"
#include "names.h"
#include "platform/platform.h"
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

// A file without a marker may still be ours: the patch's action sets are then all there. Only
// such a file is worth building as a document.
void lookForLostMarker(const std::string& bytes, BindingsFileReport& report) {
    nlohmann::json document;
    std::string cause;
    if (report.state == BindingsFileState::kNotPatched && report.jsonType.empty() &&
        bytes.find(kInjectedActionSets[0]) != std::string::npos &&
        ParseJsonText(bytes, document, cause) && HoldsInjectedActionSets(document)) {
        report.state = BindingsFileState::kPatchedMarkerMissing;
    }
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
    std::string bytes;
    if (!ReadJsonBytes(file, bytes, report.detail)) {
        report.state = BindingsFileState::kNotReadable;
        return report;
    }
    const FailureScope scope;  // tells an empty file from other text that does not parse
    if (!ScanJsonText(bytes, MarkerKeys(), outline, report.detail)) {
        report.state = scope.Result(false) == FailureKind::kEmpty ? BindingsFileState::kEmpty
                                                                  : BindingsFileState::kNotJson;
        if (report.state == BindingsFileState::kEmpty) {
            report.detail.clear();
        }
        return report;
    }
    report = classifyDocument(outline);
    lookForLostMarker(bytes, report);
    return report;
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

// The generations of a kept file after the first that are present, oldest first.
std::vector<KeptFileReport> examineGenerations(const fs::path& first, int from) {
    std::vector<KeptFileReport> found;
    for (int number = from; number <= kMaxGenerations; ++number) {
        const fs::path path = GenerationPath(first, number);
        KeptFileReport report{platform::DisplayPath(path.filename()), examineFile(path)};
        if (report.file.state != FilePresence::kAbsent) {
            found.push_back(std::move(report));
        }
    }
    return found;
}

// Told by the same decision unpatch makes, so that status never promises a removal that
// unpatch would not do.
void markRemovedByUnpatch(const fs::path& dir, std::vector<LegacyProfileReport>& profiles) {
    bool anyOurs = false;
    for (const LegacyProfileReport& profile : profiles) {
        anyOurs = anyOurs || profile.state == LegacyProfileState::kOurs;
    }
    if (!anyOurs) {
        return;
    }
    const UnpatchPlan plan = PlanUnpatchGenericHmdBindingsFile(dir);
    for (LegacyProfileReport& profile : profiles) {
        for (const std::string& removed : plan.removedLegacyProfiles) {
            profile.removedByUnpatch = profile.removedByUnpatch || removed == profile.fileName;
        }
    }
}

void examineFiles(const fs::path& dir, BindingsInspection& inspection) {
    const fs::path bindingsFile = dir / kBindingsFileName;
    const fs::path backup = SiblingPath(bindingsFile, kBackupSuffix);
    inspection.bindingsFile = examineBindingsFile(bindingsFile);
    inspection.backup = examineFile(backup);
    inspection.newerBackups = examineGenerations(backup, 2);
    inspection.copiesBeforeUndo =
        examineGenerations(SiblingPath(bindingsFile, kBeforeUndoSuffix), 1);
    inspection.temporaryFile = examineFile(SiblingPath(bindingsFile, kTempSuffix));
    inspection.backupTemporaryFile = examineFile(SiblingPath(backup, kTempSuffix));
    for (const char* fileName : kLegacyProfileFileNames) {
        inspection.legacyProfiles.push_back(examineLegacyProfile(dir, fileName));
    }
    markRemovedByUnpatch(dir, inspection.legacyProfiles);
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
