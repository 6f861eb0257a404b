// The read-only inspection: every file is only examined and read, never opened for writing,
// created or removed, and no hold is taken on the directory.
#include <system_error>

#include "failure.h"
#include "file_ops.h"
#include "inject.h"
#include "json_file.h"
#include "kept_files.h"
#include "legacy.h"
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
    if (report.state == BindingsFileState::kNotPatched && report.jsonType.empty() &&
        bytes.find(kInjectedActionSets[0]) != std::string::npos &&
        ParseJsonText(bytes, document).ok() && HoldsInjectedActionSets(document)) {
        report.state = BindingsFileState::kPatchedMarkerMissing;
    }
}

// Whether `file` is there; when that cannot be told, why not in `detail`.
FilePresence lookAt(const fs::path& file, std::string& detail) {
    std::error_code ec;
    const FilePresence presence = QueryPresence(file, ec);
    if (presence == FilePresence::kUnknown) {
        detail = platform::ErrorText(ec);
    }
    return presence;
}

BindingsFileReport examineBindingsFile(const fs::path& file) {
    BindingsFileReport report;
    switch (lookAt(file, report.detail)) {
        case FilePresence::kAbsent:
            report.state = BindingsFileState::kMissing;
            return report;
        case FilePresence::kUnknown:
            report.state = BindingsFileState::kNotReadable;
            return report;
        case FilePresence::kPresent:
            break;
    }
    DocumentOutline outline;
    std::string bytes;
    if (const Status read = ReadJsonBytes(file, bytes); !read.ok()) {
        report.state = BindingsFileState::kNotReadable;
        report.detail = read.message();
        return report;
    }
    if (const Status scan = ScanJsonText(bytes, MarkerKeys(), outline); !scan.ok()) {
        const bool empty = scan.kind() == FailureKind::kEmpty;
        report.state = empty ? BindingsFileState::kEmpty : BindingsFileState::kNotJson;
        report.detail = empty ? "" : scan.message();
        return report;
    }
    report = classifyDocument(outline);
    lookForLostMarker(bytes, report);
    return report;
}

FileReport examineFile(const fs::path& file) {
    FileReport report;
    report.state = lookAt(file, report.detail);
    if (report.state != FilePresence::kPresent) {
        return report;
    }
    std::error_code ec;
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
    LoadFailure failure = LoadFailure::kNone;
    report.state = LegacyProfileState::kNotOurs;
    if (!ScanJsonFile(file, MarkerKeys(), outline, failure).ok()) {
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
    switch (lookAt(file, report.detail)) {
        case FilePresence::kAbsent:
            break;
        case FilePresence::kUnknown:
            report.state = LegacyProfileState::kUnknown;
            break;
        case FilePresence::kPresent:
            classifyLegacyProfile(file, report);
            break;
    }
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
    inspection.cleanupOwed = examineFile(SiblingPath(bindingsFile, kCleanupOwedSuffix));
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
