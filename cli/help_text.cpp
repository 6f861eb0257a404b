// The texts of -h, --help and help [COMMAND]. man/vexlor-bindings.1 says the same at
// length; a test checks that every command and option named here appears there too.
#include "command_line.h"

#include "vexlor/bindings.h"

namespace vexlor::cli {

namespace {

// Why --quiet keeps the closing line: a failure exit status without a reason would leave
// an installer's user with nothing to act on; who wants silence redirects standard error.
const char* const kWriteOptions =
    "  -n, --dry-run  print on standard output what would change, and change nothing:\n"
    "                 no lock is taken and no file is touched\n"
    "  -q, --quiet    do not print the patcher's messages; a failure still ends with\n"
    "                 its one plain line on standard error, so it never goes unexplained\n"
    "  --wait SECONDS wait at most SECONDS (0: not at all) for another operation\n"
    "                 on the directory to finish; 10 when not given\n"
    "  --json         print the result as one JSON object on standard output: what\n"
    "                 was done, the files written, the failure and its plain words;\n"
    "                 with --dry-run, the plan\n"
    "  -h, --help     print this text\n";

const char* const kWriteExit =
    "Exit status: 0 done (with --dry-run: it would succeed); 1 it failed (or would),\n"
    "or BINDINGS_DIR is missing or not a directory; 2 the command line was wrong;\n"
    "75 another operation held the directory for the whole wait; 130, 143\n"
    "interrupted by SIGINT or SIGTERM.\n";

// The names the texts give come from the library's table of what it keeps on disk. Made with
// the text that needs them: a global string would be built before main on every run.
std::string fileName() {
    return kBindingsFileName;
}

std::string backupName() {
    return fileName() + kBackupSuffix;
}

std::string patchHelp() {
    return "usage: vexlor-bindings patch BINDINGS_DIR [-n|--dry-run] [-q|--quiet]\n"
           "                             [--wait SECONDS] [--json]\n\n"
           "Adds the bindings to " +
           fileName() +
           " in\n"
           "BINDINGS_DIR and marks it with " +
           kMarkerKey +
           ". Before the first\n"
           "change the original is saved once as\n" +
           backupName() +
           ". A file that is\n"
           "already patched is left as it is.\n\n" +
           kWriteOptions + "\n" + kWriteExit;
}

std::string unpatchHelp() {
    return std::string(
               "usage: vexlor-bindings unpatch BINDINGS_DIR [-n|--dry-run] [-q|--quiet]\n"
               "                               [--wait SECONDS] [--json]\n\n"
               "Copies the backup back when the file still holds what the patch made\n"
               "of it; otherwise takes out what the patch added, in place, and keeps\n"
               "every other change. A file without a marker is left alone. Then\n"
               "removes the legacy ") +
           kLegacyControllerType +
           " profile files an older release wrote.\n"
           "\n" +
           kWriteOptions + "\n" + kWriteExit;
}

std::string statusHelp() {
    return "usage: vexlor-bindings status BINDINGS_DIR [--json]\n\n"
           "Reports the bindings file, the backup, leftover temporary files and legacy\n"
           "profile files, one fact per line, without changing anything.\n\n"
           "  --json      print the facts as one JSON object on one line\n"
           "  -h, --help  print this text\n\n"
           "Exit status: 0 reported; 1 BINDINGS_DIR is missing or not a directory;\n"
           "2 the command line was wrong.\n";
}

std::string helpHelp() {
    return "usage: vexlor-bindings help [COMMAND]\n\n"
           "Prints the help of the program, or with COMMAND (patch, unpatch, status or\n"
           "help), that command's own. Exit status: 0; 2 for an unknown command.\n";
}

std::string generalHelp() {
    return UsageText() +
           "\n"
           "Patches the VR compositor's " +
           fileName() +
           " in\n"
           "BINDINGS_DIR, undoes the patch, or reports the directory's state.\n"
           "\n"
           "  patch      add the bindings; the original is saved once as\n"
           "             " +
           backupName() +
           "\n"
           "  unpatch    restore the backup, or remove what the patch added, and remove\n"
           "             legacy " +
           kLegacyControllerType +
           " profile files an older release wrote\n"
           "  status     report the bindings file, the backup, leftover temporary files and\n"
           "             legacy profile files, one per line, without changing anything\n"
           "  help       print this text, or with a command, that command's help\n"
           "\n"
           "  -n, --dry-run  patch, unpatch: print what would change, and change nothing\n"
           "  -q, --quiet    do not print the patcher's messages (normally on standard\n"
           "                 error); a failure still ends with one plain line saying what\n"
           "                 to do\n"
           "  --wait SECONDS patch, unpatch: wait at most SECONDS (0: not at all) for\n"
           "                 another operation on the directory; 10 when not given\n"
           "  --json         print as one JSON object on standard output: the status; the\n"
           "                 result of patch or unpatch; with --dry-run, the plan\n"
           "  -h, --help     print this text; after a command, that command's help\n"
           "  -V, --version  print the program's version\n"
           "\n"
           "Exit status: 0 done (status: reported); 1 the operation failed (status: the\n"
           "directory is missing or not a directory); 2 the command line was wrong;\n"
           "75 another operation held the directory for the whole wait; 130, 143\n"
           "interrupted by SIGINT or SIGTERM.\n";
}

}  // namespace

std::string UsageText() {
    return "usage: vexlor-bindings patch   BINDINGS_DIR [-n|--dry-run] [-q|--quiet]\n"
           "                                       [--wait SECONDS] [--json]\n"
           "       vexlor-bindings unpatch BINDINGS_DIR [-n|--dry-run] [-q|--quiet]\n"
           "                                       [--wait SECONDS] [--json]\n"
           "       vexlor-bindings status  BINDINGS_DIR [--json]\n"
           "       vexlor-bindings help [COMMAND]\n"
           "       vexlor-bindings -h | --help | -V | --version\n";
}

std::string HelpText(std::optional<Command> topic) {
    if (!topic) {
        return generalHelp();
    }
    switch (*topic) {
        case Command::kPatch:
            return patchHelp();
        case Command::kUnpatch:
            return unpatchHelp();
        case Command::kStatus:
            return statusHelp();
        case Command::kHelp:
            return helpHelp();
        case Command::kVersion:
            break;
    }
    return generalHelp();
}

}  // namespace vexlor::cli
