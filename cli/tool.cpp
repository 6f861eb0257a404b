#include "tool.h"

#include <filesystem>
#include <string>
#include <string_view>

#include "arguments.h"
#include "command_line.h"
#include "dry_run.h"
#include "failure_text.h"
#include "status.h"
#include "vexlor/bindings.h"

namespace vexlor::cli {

namespace {

// The library's messages already end in "\n" and go out exactly as given, except one cut to
// the length of its buffer, which gets its line end back here; flushing each keeps them in
// order with anything else written to the same stream.
Logger loggerFor(const Invocation& invocation, std::ostream& err) {
    if (invocation.quiet) {
        return {};
    }
    return [&err](const char* message) {
        const std::string_view text(message);
        err << text << (!text.empty() && text.back() != '\n' ? "\n" : "") << std::flush;
    };
}

// patch, unpatch and status refuse a directory in the same words.
bool directoryUsable(const BindingsInspection& seen, std::ostream& err) {
    const std::string problem = DirectoryProblem(seen);
    if (!problem.empty()) {
        err << "vexlor-bindings: error: " << problem << "\n";
    }
    return problem.empty();
}

int runStatus(const BindingsInspection& status, const Invocation& invocation, std::ostream& out) {
    if (invocation.json) {
        // A directory name that is not valid UTF-8 is shown with replacement characters
        // rather than making the whole report fail.
        out << StatusToJson(status).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)
            << "\n";
    } else {
        out << FormatStatusText(status);
    }
    return kExitSuccess;
}

// A plan that would fail reports why as the operation itself would, through the logger.
FailureKind planFailure(FailureKind failure, const std::string& detail, const Logger& log) {
    if (log && !detail.empty()) {
        log(detail.c_str());
    }
    return failure;
}

FailureKind dryRun(const Invocation& invocation, const std::filesystem::path& dir,
                   const Logger& log, std::ostream& out) {
    if (invocation.command == Command::kPatch) {
        const PatchPlan plan = PlanPatchGenericHmdBindingsFile(dir);
        if (plan.decision == PatchDecision::kWouldFail) {
            return planFailure(plan.failure, plan.detail, log);
        }
        out << DescribePatchPlan(plan);
        return FailureKind::kNone;
    }
    const UnpatchPlan plan = PlanUnpatchGenericHmdBindingsFile(dir);
    if (plan.decision == UnpatchDecision::kWouldFail) {
        return planFailure(plan.failure, plan.detail, log);
    }
    out << DescribeUnpatchPlan(plan);
    return FailureKind::kNone;
}

FailureKind operate(const Invocation& invocation, const std::filesystem::path& dir,
                    const Logger& log, std::ostream& out) {
    FailureKind failure = FailureKind::kNone;
    if (invocation.dryRun) {
        failure = dryRun(invocation, dir, log, out);
    } else if (invocation.command == Command::kPatch) {
        PatchGenericHmdBindingsFile(dir, log, failure);
    } else {
        UnpatchGenericHmdBindingsFile(dir, log, failure);
    }
    return failure;
}

// After the patcher's own lines, a failure ends with one plain line; --quiet silences only
// the former, since a failure status with no reason leaves the user nothing to act on.
int runOperation(const Invocation& invocation, std::ostream& out, std::ostream& err) {
    const std::filesystem::path dir = PathFromUtf8(invocation.bindingsDir);
    const FailureKind failure = operate(invocation, dir, loggerFor(invocation, err), out);
    if (failure == FailureKind::kNone) {
        return kExitSuccess;
    }
    // Looked at only now: a run that succeeds does not pay for a second read of the file.
    const BindingsInspection after = InspectGenericHmdBindingsFile(dir);
    FailureContext context{invocation.command, invocation.dryRun,
                           after.backup.state == FilePresence::kPresent};
    if (!after.newerBackups.empty()) {
        context.hasBackup = true;
        context.newestBackup = after.newerBackups.back().fileName;
    }
    context.fileStillBroken = after.bindingsFile.state == BindingsFileState::kNotJson ||
                              after.bindingsFile.state == BindingsFileState::kNotObject;
    err << FailureLine(failure, context) << std::flush;
    return kExitFailure;
}

int runCommand(const Invocation& invocation, std::ostream& out, std::ostream& err) {
    switch (invocation.command) {
        case Command::kPatch:
        case Command::kUnpatch:
        case Command::kStatus:
            break;
        case Command::kHelp:
            out << HelpText(invocation.helpTopic);
            return kExitSuccess;
        case Command::kVersion:
            out << "vexlor-bindings " << VEXLOR_BINDINGS_VERSION_STRING << "\n";
            return kExitSuccess;
    }
    const std::filesystem::path dir = PathFromUtf8(invocation.bindingsDir);
    if (invocation.command != Command::kStatus) {
        return directoryUsable(InspectGenericHmdBindingsFile(dir, InspectionScope::kDirectoryOnly),
                               err)
                   ? runOperation(invocation, out, err)
                   : kExitFailure;
    }
    const BindingsInspection seen = InspectGenericHmdBindingsFile(dir);
    return directoryUsable(seen, err) ? runStatus(seen, invocation, out) : kExitFailure;
}

}  // namespace

int RunTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const ParseResult parsed = ParseCommandLine(args);
    if (!parsed.usageError.empty()) {
        err << "vexlor-bindings: " << parsed.usageError << "\n" << UsageText();
        return kExitUsage;
    }
    int status = runCommand(parsed.invocation, out, err);
    // A report that did not reach its reader is a failure, not a success.
    out.flush();
    if (!out) {
        err << "vexlor-bindings: error: cannot write to standard output\n";
        status = kExitFailure;
    }
    return status;
}

}  // namespace vexlor::cli
