// A patch or unpatch told as one result: what was done, the files written, and on failure its
// kind and plain words. The tool's --json and the C interface both hand out this result.
#include <string_view>
#include <utility>

#include <nlohmann/json.hpp>

#include "log.h"
#include "operations.h"
#include "platform/platform.h"
#include "vexlor/bindings.h"

namespace vexlor {

namespace {

namespace fs = std::filesystem;

// With nobody listening, the last message goes into the failure sentence.
Logger keepingUnshown(Logger log, std::string& unshown) {
    return log ? log : KeepLastCause(unshown);
}

void failed(const fs::path& dir, int backupsBefore, std::string unshown, OperationResult& result) {
    result.outcome = result.failure == FailureKind::kAbandoned ? "interrupted" : "failed";
    result.filesWritten.clear();
    result.filesRemoved.clear();
    result.circumstances = FailureCircumstancesAfter(dir, backupsBefore, false);
    result.circumstances.unshownCause = std::move(unshown);
    result.message = FailureSentence(result.failure, result.circumstances);
}

}  // namespace

Logger KeepLastCause(std::string& cause) {
    return [&cause](const char* message) {
        std::string_view text = OperationLog::WithoutTag(message);
        while (!text.empty() && text.back() == '\n') {
            text.remove_suffix(1);
        }
        cause = text;
    };
}

OperationResult DirectoryFailure(Operation operation, const BindingsInspection& inspection) {
    OperationResult result;
    result.operation = operation;
    result.directory = inspection.directory;
    result.outcome = "failed";
    result.failure = inspection.directoryState == DirectoryState::kMissing ? FailureKind::kMissing
                                                                           : FailureKind::kOther;
    result.message = DirectoryProblem(inspection);
    return result;
}

OperationResult RunOperation(Operation operation, const fs::path& bindingsDir, Logger log,
                             const OperationControl& control) {
    const BindingsInspection directory =
        InspectGenericHmdBindingsFile(bindingsDir, InspectionScope::kDirectoryOnly);
    if (directory.directoryState != DirectoryState::kDirectory) {
        OperationResult refused = DirectoryFailure(operation, directory);
        OperationLog(operation == Operation::kPatch ? "patch" : "unpatch", std::move(log))
            .Say("%s\n", refused.message.c_str());
        return refused;
    }
    OperationResult result;
    result.operation = operation;
    result.directory = directory.directory;
    const int backupsBefore = BackupsPresent(bindingsDir);
    std::string unshown;
    const Logger logger = keepingUnshown(std::move(log), unshown);
    OperationRecord record;
    result.failure = RunRecorded(operation, bindingsDir, logger, control, record);
    result.outcome = std::move(record.outcome);
    result.filesWritten = std::move(record.written);
    result.filesRemoved = std::move(record.removed);
    if (result.failure != FailureKind::kNone) {
        failed(bindingsDir, backupsBefore, std::move(unshown), result);
    }
    return result;
}

nlohmann::json OperationResultToJson(const OperationResult& result) {
    return {{"format_version", 1},
            {"operation", result.operation == Operation::kPatch ? "patch" : "unpatch"},
            {"directory", result.directory},
            {"succeeded", result.failure == FailureKind::kNone},
            {"outcome", result.outcome},
            {"files_written", result.filesWritten},
            {"files_removed", result.filesRemoved},
            {"failure", FailureKindName(result.failure)},
            {"message", result.message}};
}

}  // namespace vexlor
