// What the program takes from its console and how it hands text back, on each system.
//
// The tool works in UTF-8 throughout. Each system provides these in a file of its own
// (arguments_posix.cpp, arguments_windows.cpp); the rest of the tool is the same everywhere.
#ifndef VEXLOR_CLI_ARGUMENTS_H_
#define VEXLOR_CLI_ARGUMENTS_H_

#include <filesystem>
#include <string>
#include <vector>

namespace vexlor::cli {

// The command-line arguments after the program name, as UTF-8 text. Throws
// std::runtime_error when the system cannot provide them.
std::vector<std::string> Utf8Arguments(int argc, char** argv);

// Makes standard output and standard error pass every byte through unchanged, so a "\n" the
// tool or the library writes arrives as "\n" on every system.
void UseBinaryStandardStreams();

// The path named by UTF-8 `text`.
std::filesystem::path PathFromUtf8(const std::string& text);

}  // namespace vexlor::cli

#endif  // VEXLOR_CLI_ARGUMENTS_H_
