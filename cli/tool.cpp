#include "tool.h"

#include <string_view>

#include "arguments.h"
#include "command_line.h"
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

int exitFor(bool succeeded) {
    return succeeded ? kExitSuccess : kExitFailure;
}

int runStatus(const Invocation& invocation, std::ostream& out, std::ostream& err) {
    const BindingsInspection status =
        InspectGenericHmdBindingsFile(PathFromUtf8(invocation.bindingsDir));
    if (const std::string problem = DirectoryProblem(status); !problem.empty()) {
        err << "vexlor-bindings: error: " << problem << "\n";
        return kExitFailure;
    }
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

int runCommand(const Invocation& invocation, std::ostream& out, std::ostream& err) {
    switch (invocation.command) {
        case Command::kPatch:
            return exitFor(PatchGenericHmdBindingsFile(PathFromUtf8(invocation.bindingsDir),
                                                       loggerFor(invocation, err)));
        case Command::kUnpatch:
            return exitFor(UnpatchGenericHmdBindingsFile(PathFromUtf8(invocation.bindingsDir),
                                                         loggerFor(invocation, err)));
        case Command::kStatus:
            return runStatus(invocation, out, err);
        case Command::kHelp:
            out << HelpText();
            return kExitSuccess;
        case Command::kVersion:
            out << "vexlor-bindings " << VEXLOR_BINDINGS_VERSION_STRING << "\n";
            return kExitSuccess;
    }
    return kExitFailure;
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
