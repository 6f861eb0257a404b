// The vexlor-bindings program apart from how each system hands it its arguments.
#ifndef VEXLOR_CLI_TOOL_H_
#define VEXLOR_CLI_TOOL_H_

#include <ostream>
#include <string>
#include <vector>

namespace vexlor::cli {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;
// Another operation on the directory held it for the whole wait: try again later (sysexits'
// EX_TEMPFAIL).
inline constexpr int kExitBusy = 75;
// Ended by a signal it caught: 128 + the signal's number, as a shell reports it.
inline constexpr int kExitSignalBase = 128;

// Runs the command `args` (UTF-8, without the program name) names, printing results to
// `out` and every message to `err`, and returns the exit status. Exceptions from the library
// or from memory exhaustion pass through to the caller.
int RunTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace vexlor::cli

#endif  // VEXLOR_CLI_TOOL_H_
