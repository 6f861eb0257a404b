// The user's words for a failed patch or unpatch, after the patcher's own messages.
#ifndef VEXLOR_CLI_FAILURE_TEXT_H_
#define VEXLOR_CLI_FAILURE_TEXT_H_

#include <string>

#include "command_line.h"
#include "vexlor/bindings.h"

namespace vexlor::cli {

// What the plain line knows besides the kind of failure.
struct FailureContext {
    Command command = Command::kPatch;
    bool dryRun = false;     // "would fail", and nothing to say about what changed
    bool hasBackup = false;  // whether the original is kept beside the file
    std::string newestBackup = "vrcompositor_bindings_generic_hmd.json.vexlor_backup";
    // Whether the bindings file, looked at after the failure, still does not parse as a
    // bindings document: it may have been caught while another program wrote it.
    bool fileStillBroken = true;
};

// One line, "vexlor-bindings: patch failed: <what>; <nothing changed>. <what to do>\n".
std::string FailureLine(FailureKind kind, const FailureContext& context);

}  // namespace vexlor::cli

#endif  // VEXLOR_CLI_FAILURE_TEXT_H_
