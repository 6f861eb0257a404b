#include "command_line.h"

#include <optional>
#include <utility>

namespace vexlor::cli {

namespace {

std::optional<Command> commandNamed(const std::string& word) {
    if (word == "patch") {
        return Command::kPatch;
    }
    if (word == "unpatch") {
        return Command::kUnpatch;
    }
    if (word == "status") {
        return Command::kStatus;
    }
    return std::nullopt;
}

bool looksLikeOption(const std::string& arg) {
    return arg.size() > 1 && arg[0] == '-';
}

struct Words {
    std::vector<std::string> positional;
    bool help = false;
    bool version = false;
    bool quiet = false;
    bool json = false;
    std::string unknownOption;
};

Words splitOptions(const std::vector<std::string>& args) {
    Words words;
    bool optionsEnded = false;
    for (const std::string& arg : args) {
        if (optionsEnded || !looksLikeOption(arg)) {
            words.positional.push_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "--help") {
            words.help = true;
        } else if (arg == "--version") {
            words.version = true;
        } else if (arg == "--quiet") {
            words.quiet = true;
        } else if (arg == "--json") {
            words.json = true;
        } else if (words.unknownOption.empty()) {
            words.unknownOption = arg;
        }
    }
    return words;
}

ParseResult usageError(std::string problem) {
    ParseResult result;
    result.usageError = std::move(problem);
    return result;
}

ParseResult informational(Command command) {
    ParseResult result;
    result.invocation.command = command;
    return result;
}

}  // namespace

ParseResult ParseCommandLine(const std::vector<std::string>& args) {
    const Words words = splitOptions(args);
    if (!words.unknownOption.empty()) {
        return usageError("unknown option '" + words.unknownOption + "'");
    }
    // Asking for help or the version is always answered, whatever else the line holds.
    if (words.help) {
        return informational(Command::kHelp);
    }
    if (words.version) {
        return informational(Command::kVersion);
    }
    if (words.positional.empty()) {
        return usageError("no command given");
    }
    const std::optional<Command> command = commandNamed(words.positional[0]);
    if (!command) {
        return usageError("unknown command '" + words.positional[0] + "'");
    }
    if (words.positional.size() < 2) {
        return usageError("'" + words.positional[0] + "' needs the bindings directory");
    }
    if (words.positional.size() > 2) {
        return usageError("unexpected argument '" + words.positional[2] + "'");
    }
    if (words.json && *command != Command::kStatus) {
        return usageError("--json applies to 'status' only");
    }
    ParseResult result;
    result.invocation = {*command, words.positional[1], words.quiet, words.json};
    return result;
}

std::string UsageText() {
    return "usage: vexlor-bindings patch   BINDINGS_DIR [--quiet]\n"
           "       vexlor-bindings unpatch BINDINGS_DIR [--quiet]\n"
           "       vexlor-bindings status  BINDINGS_DIR [--json]\n"
           "       vexlor-bindings --help | --version\n";
}

std::string HelpText() {
    return UsageText() +
           "\n"
           "Patches the VR compositor's vrcompositor_bindings_generic_hmd.json in\n"
           "BINDINGS_DIR, undoes the patch, or reports the directory's state.\n"
           "\n"
           "  patch     add the bindings; the original is saved once as\n"
           "            vrcompositor_bindings_generic_hmd.json.vexlor_backup\n"
           "  unpatch   restore the backup, or remove what the patch added, and remove\n"
           "            legacy lighthouse_hmd profile files an older release wrote\n"
           "  status    report the bindings file, the backup, leftover temporary files and\n"
           "            legacy profile files, one per line, without changing anything\n"
           "\n"
           "  --quiet   do not print the patcher's messages (normally on standard error)\n"
           "  --json    print the status as one JSON object on standard output\n"
           "  --help    print this text\n"
           "  --version print the program's version\n"
           "\n"
           "Exit status: 0 done (status: reported); 1 the operation failed (status: the\n"
           "directory is missing or not a directory); 2 the command line was wrong.\n";
}

}  // namespace vexlor::cli
