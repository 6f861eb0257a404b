// The public entry points' way in for a caller inside the library that is handed what the
// operation did as well (RunOperation).
#ifndef VEXLOR_OPERATIONS_H_
#define VEXLOR_OPERATIONS_H_

#include <filesystem>

#include "log.h"
#include "vexlor/bindings.h"

namespace vexlor {

// A patch or unpatch exactly as the four-argument public forms run it, with what it did kept
// in `record` as it does it; returns the failure kind, kNone on success.
FailureKind RunRecorded(Operation operation, const std::filesystem::path& bindingsDir, Logger log,
                        const OperationControl& control, OperationRecord& record);

}  // namespace vexlor

#endif  // VEXLOR_OPERATIONS_H_
