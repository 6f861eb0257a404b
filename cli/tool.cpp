#include "tool.h"

#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "arguments.h"
#include "command_line.h"
#include "dry_run.h"
#include "failure_text.h"
#include "interruption.h"
#include "status.h"
#include "vexlor/bindings.h"

namespace vexlor::cli {

namespace {

// The library's messages already end in "\n" and go out exactly as given, except one cut to
// the length of its buffer, which gets its line end back here; flushing each keeps them in
// order with anything else written to the same stream. Under --quiet only the last is kept,
// without its tag, for the closing line to say.
Logger loggerFor(const Invocation& invocation, std::ostream& err, std::string& lastUnshown) {
    if (invocation.quiet) {
        return KeepLastCause(lastUnshown);
    }
    return [&err](const char* message) {
        const std::string_view text(message);
        err << text << (!text.empty() && text.back() != '\n' ? "\n" : "") << std::flush;
    };
}

// People often hand over the bindings file itself rather than its folder: taken as meaning
// that folder, and said so, since the tool then works on a name the user did not type.
std::string folderMeant(const Invocation& invocation, std::ostream& err) {
    const std::filesystem::path given = std::filesystem::u8path(invocation.bindingsDir);
    std::error_code error;  // a name that cannot be checked is reported by the directory check
    if (given.filename() != kBindingsFileName ||
        !std::filesystem::is_regular_file(PathFromUtf8(invocation.bindingsDir), error)) {
        return invocation.bindingsDir;
    }
    const std::string folder =
        given.has_parent_path() ? given.parent_path().u8string() : std::string(".");
    if (!invocation.quiet) {
        err << "vexlor-bindings: " << invocation.bindingsDir
            << " is the bindings file; using its folder " << folder << "\n";
    }
    return folder;
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
        out << JsonText(StatusToJson(status)) << "\n";
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

// The warnings the operation would log, logged as it would.
void planWarnings(const std::vector<std::string>& warnings, const Logger& log) {
    for (const std::string& warning : log ? warnings : std::vector<std::string>()) {
        log(warning.c_str());
    }
}

// A plan as the user asked for it: its failure, or its warnings and then what it would do.
template <typename Plan, typename Describe, typename ToJson>
FailureKind showPlan(const Plan& plan, bool wouldFail, const Invocation& invocation,
                     const Logger& log, std::ostream& out, Describe describe, ToJson toJson) {
    if (wouldFail) {
        return planFailure(plan.failure, plan.detail, log);
    }
    planWarnings(plan.warnings, log);
    out << (invocation.json ? JsonText(toJson(plan)) + "\n" : describe(plan));
    return FailureKind::kNone;
}

FailureKind dryRun(const Invocation& invocation, const std::filesystem::path& dir,
                   const Logger& log, std::ostream& out) {
    if (invocation.command == Command::kPatch) {
        const PatchPlan plan = PlanPatchGenericHmdBindingsFile(dir);
        return showPlan(plan, plan.decision == PatchDecision::kWouldFail, invocation, log, out,
                        DescribePatchPlan, PatchPlanToJson);
    }
    const UnpatchPlan plan = PlanUnpatchGenericHmdBindingsFile(dir);
    return showPlan(plan, plan.decision == UnpatchDecision::kWouldFail, invocation, log, out,
                    DescribeUnpatchPlan, UnpatchPlanToJson);
}

Operation operationOf(const Invocation& invocation) {
    return invocation.command == Command::kPatch ? Operation::kPatch : Operation::kUnpatch;
}

OperationControl controlFor(const Invocation& invocation) {
    OperationControl control;
    if (invocation.waitSeconds) {
        control.lockWait = std::chrono::seconds(*invocation.waitSeconds);
    }
    control.abandon = [] { return InterruptionCaught() != 0; };
    CatchInterruptions();
    return control;
}

// --json: the result goes to standard output as one object, the one the C interface returns;
// looking for what the run will do costs a plan, which only this form pays.
OperationResult reportedOperation(const Invocation& invocation, const std::filesystem::path& dir,
                                  const Logger& log, std::ostream& out) {
    // Under --quiet the library keeps the cause itself, so the result says it too.
    OperationResult result = RunOperation(
        operationOf(invocation), dir, invocation.quiet ? Logger() : log, controlFor(invocation));
    out << JsonText(OperationResultToJson(result)) << "\n";
    return result;
}

OperationResult operate(const Invocation& invocation, const std::filesystem::path& dir,
                        const Logger& log, std::ostream& out) {
    OperationResult result;
    if (invocation.dryRun) {
        result.failure = dryRun(invocation, dir, log, out);
    } else if (invocation.json) {
        return reportedOperation(invocation, dir, log, out);
    } else if (invocation.command == Command::kPatch) {
        PatchGenericHmdBindingsFile(dir, log, result.failure, controlFor(invocation));
    } else {
        UnpatchGenericHmdBindingsFile(dir, log, result.failure, controlFor(invocation));
    }
    return result;
}

// After the patcher's own lines, a failure ends with one plain line; --quiet silences only
// the former, since a failure status with no reason leaves the user nothing to act on.
int runOperation(const Invocation& invocation, std::ostream& out, std::ostream& err) {
    const std::filesystem::path dir = PathFromUtf8(invocation.bindingsDir);
    const int backupsBefore = BackupsPresent(dir);
    std::string unshown;
    const OperationResult result =
        operate(invocation, dir, loggerFor(invocation, err, unshown), out);
    const FailureKind failure = result.failure;
    const int signal = invocation.dryRun ? 0 : InterruptionCaught();
    if (failure == FailureKind::kNone && signal == 0) {
        return kExitSuccess;
    }
    // Looked at only now: a run that succeeds does not pay for a second read of the file.
    FailureCircumstances circumstances =
        invocation.json && !invocation.dryRun
            ? result.circumstances
            : FailureCircumstancesAfter(dir, backupsBefore, invocation.dryRun);
    if (circumstances.unshownCause.empty()) {
        circumstances.unshownCause = unshown;
    }
    if (signal != 0) {
        err << InterruptedLine(invocation.command, failure == FailureKind::kNone, circumstances)
            << std::flush;
        return kExitSignalBase + signal;
    }
    err << FailureLine(invocation.command, failure, circumstances) << std::flush;
    return failure == FailureKind::kBusy ? kExitBusy : kExitFailure;
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
        const BindingsInspection seen =
            InspectGenericHmdBindingsFile(dir, InspectionScope::kDirectoryOnly);
        if (directoryUsable(seen, err)) {
            return runOperation(invocation, out, err);
        }
        // The result a script waits for, saying why there was no run.
        if (invocation.json && !invocation.dryRun) {
            out << JsonText(OperationResultToJson(DirectoryFailure(operationOf(invocation), seen)))
                << "\n";
        }
        return kExitFailure;
    }
    const BindingsInspection seen = InspectGenericHmdBindingsFile(dir);
    if (!directoryUsable(seen, err)) {
        // A script reading the JSON still gets an object, saying what stands at the name.
        if (invocation.json) {
            runStatus(seen, invocation, out);
        }
        return kExitFailure;
    }
    return runStatus(seen, invocation, out);
}

}  // namespace

int RunTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const ParseResult parsed = ParseCommandLine(args);
    if (!parsed.usageError.empty()) {
        err << "vexlor-bindings: " << parsed.usageError << "\n" << UsageText();
        return kExitUsage;
    }
    Invocation invocation = parsed.invocation;
    if (!invocation.bindingsDir.empty()) {
        invocation.bindingsDir = folderMeant(invocation, err);
    }
    int status = runCommand(invocation, out, err);
    // A report that did not reach its reader is a failure, not a success.
    out.flush();
    if (!out) {
        err << "vexlor-bindings: error: cannot write to standard output\n";
        status = kExitFailure;
    }
    return status;
}

}  // namespace vexlor::cli
