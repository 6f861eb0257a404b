// The user's words for a failed patch or unpatch, after the patcher's own messages.
#ifndef VEXLOR_CLI_FAILURE_TEXT_H_
#define VEXLOR_CLI_FAILURE_TEXT_H_

#include <string>
#include <vector>

#include "command_line.h"
#include "vexlor/bindings.h"

namespace vexlor::cli {

// What the plain line knows besides the kind of failure.
struct FailureContext {
    Command command = Command::kPatch;
    bool dryRun = false;                  // "would fail", and nothing to say about what changed
    bool hasBackup = false;               // whether the original is kept beside the file
    bool backupMade = false;              // the run made the backup before it failed
    std::vector<std::string> leftBehind;  // temporary files on disk after the run
    // The patcher's last message, when it was not shown (--quiet): the line then says it.
    std::string unshownCause;
    std::string newestBackup = "vrcompositor_bindings_generic_hmd.json.vexlor_backup";
    // Whether the bindings file, looked at after the failure, still does not parse as a
    // bindings document: it may have been caught while another program wrote it.
    bool fileStillBroken = true;
};

// One line, "vexlor-bindings: patch failed: <what>; <what is on disk now>. <what to do>\n".
std::string FailureLine(FailureKind kind, const FailureContext& context);

// One line after an operation a signal interrupted: whether the file changed, and what else is
// on disk. `finished`: the operation completed before it could stop.
std::string InterruptedLine(bool finished, const FailureContext& context);

}  // namespace vexlor::cli

#endif  // VEXLOR_CLI_FAILURE_TEXT_H_
