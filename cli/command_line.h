// What the user asked for, read from the command line.
#ifndef VEXLOR_CLI_COMMAND_LINE_H_
#define VEXLOR_CLI_COMMAND_LINE_H_

#include <optional>
#include <string>
#include <vector>

namespace vexlor::cli {

enum class Command { kPatch, kUnpatch, kStatus, kHelp, kVersion };

struct Invocation {
    Command command = Command::kHelp;
    std::string bindingsDir;  // UTF-8, exactly as given
    bool quiet = false;
    bool json = false;
    bool dryRun = false;
    std::optional<Command> helpTopic;     // kHelp: the command asked about, if any
    std::optional<unsigned> waitSeconds;  // --wait: how long to wait for another operation
};

// Either an invocation or the reason the command line makes no sense.
struct ParseResult {
    Invocation invocation;
    std::string usageError;  // empty when the command line was understood
};

// Options may stand anywhere; "--" ends them, so a directory whose name starts with "-"
// can still be named.
ParseResult ParseCommandLine(const std::vector<std::string>& args);

// The command a word names ("patch", ...), for messages.
const char* CommandName(Command command);

// The short synopsis shown with every usage error.
std::string UsageText();
// The synopsis with what each command does and what its exit status means; with a topic,
// that command's own help.
std::string HelpText(std::optional<Command> topic = std::nullopt);

}  // namespace vexlor::cli

#endif  // VEXLOR_CLI_COMMAND_LINE_H_
