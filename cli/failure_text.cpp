#include "failure_text.h"

namespace vexlor::cli {

std::string FailureLine(Command command, FailureKind kind,
                        const FailureCircumstances& circumstances) {
    return std::string("vexlor-bindings: ") + CommandName(command) +
           (circumstances.dryRun ? " would fail: " : " failed: ") +
           FailureSentence(kind, circumstances) + "\n";
}

std::string InterruptedLine(Command command, bool finished,
                            const FailureCircumstances& circumstances) {
    const std::string name = CommandName(command);
    std::string line = "vexlor-bindings: " + name + " interrupted; ";
    if (finished) {
        line += "it had finished: the bindings file is " + name + "ed";
    } else {
        line += UnchangedText(circumstances);
    }
    return line + ".\n";
}

}  // namespace vexlor::cli
