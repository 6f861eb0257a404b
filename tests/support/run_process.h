// Runs a real program and captures what it printed: the tests drive the built executables
// exactly as a user or an installer would.
#ifndef VEXLOR_TESTS_RUN_PROCESS_H_
#define VEXLOR_TESTS_RUN_PROCESS_H_

#include <filesystem>
#include <string>
#include <vector>

namespace vexlor::testing {

struct ProcessResult {
    int exitCode = -1;  // -1 when the program could not be started or did not exit normally
    std::string out;    // everything written to standard output
    std::string err;    // everything written to standard error
};

// Runs `program` with `args` (not through a shell) in `workingDir` (the current directory
// when empty), with standard input empty, and waits for it.
ProcessResult RunProcess(const std::filesystem::path& program, const std::vector<std::string>& args,
                         const std::filesystem::path& workingDir = {});

// This test process's identifier, to keep its scratch directories apart from another's.
unsigned long CurrentProcessId();

}  // namespace vexlor::testing

#endif  // VEXLOR_TESTS_RUN_PROCESS_H_
