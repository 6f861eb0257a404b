// What the program takes from its console and how it hands text back, on each system.
//
// The tool works in UTF-8 throughout. Each system provides these in a file of its own
// (arguments_posix.cpp, arguments_windows.cpp); the rest of the tool is the same everywhere.
#ifndef VEXLOR_CLI_ARGUMENTS_H_
#define VEXLOR_CLI_ARGUMENTS_H_

#include <filesystem>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace vexlor::cli {

// An argument the system handed over that is no text at all, so that no directory can be
// named by it without guessing: a wrong command line, not a failure of the operation.
class UnusableArgument : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The command-line arguments after the program name, as UTF-8 text. Throws UnusableArgument
// for an argument that is not text, and std::runtime_error when the system cannot provide them.
std::vector<std::string> Utf8Arguments(int argc, char** argv);

// Standard output and standard error, taking UTF-8 text. Every byte reaches a file or a pipe as
// it is, so a "\n" the tool or the library writes arrives as "\n" on every system; a console is
// given the text in the form it can show. Standard error is flushed after every output.
std::ostream& StandardOutput();
std::ostream& StandardError();

// The path named by UTF-8 `text`, spelled as the system needs it to reach what the user meant.
std::filesystem::path PathFromUtf8(const std::string& text);

}  // namespace vexlor::cli

#endif  // VEXLOR_CLI_ARGUMENTS_H_
