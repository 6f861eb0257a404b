// The closing line after a failed or interrupted patch or unpatch, after the patcher's own
// messages; its words come from the library, so every caller says the same.
#ifndef VEXLOR_CLI_FAILURE_TEXT_H_
#define VEXLOR_CLI_FAILURE_TEXT_H_

#include <string>

#include "command_line.h"
#include "vexlor/bindings.h"

namespace vexlor::cli {

// One line, "vexlor-bindings: patch failed: <what>; <what is on disk now>. <what to do>\n".
std::string FailureLine(Command command, FailureKind kind,
                        const FailureCircumstances& circumstances);

// One line after an operation a signal interrupted: whether the file changed, and what else is
// on disk. `finished`: the operation completed before it could stop.
std::string InterruptedLine(Command command, bool finished,
                            const FailureCircumstances& circumstances);

}  // namespace vexlor::cli

#endif  // VEXLOR_CLI_FAILURE_TEXT_H_
