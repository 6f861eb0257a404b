#include "command_line.h"

#include <utility>

namespace vexlor::cli {

namespace {

std::optional<Command> commandNamed(const std::string& word) {
    for (Command command : {Command::kPatch, Command::kUnpatch, Command::kStatus}) {
        if (word == CommandName(command)) {
            return command;
        }
    }
    return std::nullopt;
}

// What "help" may be asked about: every command, itself included.
std::optional<Command> helpTopicNamed(const std::string& word) {
    return word == CommandName(Command::kHelp) ? Command::kHelp : commandNamed(word);
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
    bool dryRun = false;
    std::optional<std::string> wait;  // --wait's value as written
    std::string unknownOption;
};

// The most --wait accepts: a day, far more than any operation takes.
constexpr unsigned long kMaxWaitSeconds = 86400;

// "--wait SECONDS" or "--wait=SECONDS"; true when `arg` is that option, its value then taken
// (from the next argument when not joined).
bool takeWait(const std::vector<std::string>& args, std::size_t& at, Words& words) {
    const std::string& arg = args[at];
    const std::string name = "--wait";
    if (arg == name) {
        words.wait = at + 1 < args.size() ? args[++at] : std::string();
        return true;
    }
    if (arg.rfind(name + "=", 0) == 0) {
        words.wait = arg.substr(name.size() + 1);
        return true;
    }
    return false;
}

std::optional<unsigned> waitSeconds(const std::string& text) {
    if (text.empty() || text.size() > 5 ||
        text.find_first_not_of("0123456789") != std::string::npos ||
        std::stoul(text) > kMaxWaitSeconds) {
        return std::nullopt;
    }
    return static_cast<unsigned>(std::stoul(text));
}

// Sets the flag `arg` names; false for an option the program does not have.
bool takeOption(const std::string& arg, Words& words) {
    const std::pair<const char*, bool Words::*> options[] = {
        {"--help", &Words::help}, {"-h", &Words::help},          {"--version", &Words::version},
        {"-V", &Words::version},  {"--quiet", &Words::quiet},    {"-q", &Words::quiet},
        {"--json", &Words::json}, {"--dry-run", &Words::dryRun}, {"-n", &Words::dryRun},
    };
    for (const auto& [name, flag] : options) {
        if (arg == name) {
            words.*flag = true;
            return true;
        }
    }
    return false;
}

Words splitOptions(const std::vector<std::string>& args) {
    Words words;
    bool optionsEnded = false;
    for (std::size_t at = 0; at < args.size(); ++at) {
        const std::string& arg = args[at];
        if (optionsEnded || !looksLikeOption(arg)) {
            words.positional.push_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (!takeOption(arg, words) && !takeWait(args, at, words) &&
                   words.unknownOption.empty()) {
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

ParseResult informational(Command command, std::optional<Command> topic = std::nullopt) {
    ParseResult result;
    result.invocation.command = command;
    result.invocation.helpTopic = topic;
    return result;
}

// "help [COMMAND]", and "--help" or "-h" anywhere: the help of the command named first, if any.
ParseResult helpRequest(const Words& words) {
    const bool helpWord = !words.positional.empty() && words.positional[0] == "help";
    const std::size_t topicAt = helpWord ? 1 : 0;
    if (words.positional.size() <= topicAt) {
        return informational(Command::kHelp);
    }
    const std::optional<Command> topic = helpWord ? helpTopicNamed(words.positional[topicAt])
                                                  : commandNamed(words.positional[topicAt]);
    if (helpWord && !topic) {
        return usageError("unknown command '" + words.positional[topicAt] + "'");
    }
    if (helpWord && words.positional.size() > 2) {
        return usageError("unexpected argument '" + words.positional[2] + "'");
    }
    return informational(Command::kHelp, topic);
}

// The checks on a command's words once the command is known.
std::string commandProblem(Command command, const Words& words) {
    const std::string name = CommandName(command);
    if (words.positional.size() < 2) {
        return "'" + name + "' needs the bindings directory";
    }
    if (words.positional.size() > 2) {
        return "unexpected argument '" + words.positional[2] + "'";
    }
    if (words.dryRun && command == Command::kStatus) {
        return "--dry-run applies to 'patch' and 'unpatch' only";
    }
    if (words.wait && command == Command::kStatus) {
        return "--wait applies to 'patch' and 'unpatch' only";
    }
    if (words.wait && !waitSeconds(*words.wait)) {
        return "--wait needs a whole number of seconds from 0 to " +
               std::to_string(kMaxWaitSeconds) + ", not '" + *words.wait + "'";
    }
    return "";
}

}  // namespace

const char* CommandName(Command command) {
    switch (command) {
        case Command::kPatch:
            return "patch";
        case Command::kUnpatch:
            return "unpatch";
        case Command::kStatus:
            return "status";
        case Command::kHelp:
            return "help";
        case Command::kVersion:
            break;
    }
    return "version";
}

ParseResult ParseCommandLine(const std::vector<std::string>& args) {
    const Words words = splitOptions(args);
    if (!words.unknownOption.empty()) {
        return usageError("unknown option '" + words.unknownOption + "'");
    }
    // Asking for help or the version is always answered, whatever else the line holds.
    if (words.help || (!words.positional.empty() && words.positional[0] == "help")) {
        return helpRequest(words);
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
    if (std::string problem = commandProblem(*command, words); !problem.empty()) {
        return usageError(std::move(problem));
    }
    ParseResult result;
    result.invocation = {*command,
                         words.positional[1],
                         words.quiet,
                         words.json,
                         words.dryRun,
                         {},
                         words.wait ? waitSeconds(*words.wait) : std::nullopt};
    return result;
}

}  // namespace vexlor::cli
