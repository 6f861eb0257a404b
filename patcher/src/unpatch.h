// The unpatch of one bindings directory, without the lock and the retries its public entry
// points add around it.
#ifndef VEXLOR_UNPATCH_H_
#define VEXLOR_UNPATCH_H_

#include <filesystem>

#include "failure.h"
#include "log.h"

namespace vexlor {

Status UnpatchBindingsDirectory(const std::filesystem::path& bindingsDir, const OperationLog& log);

}  // namespace vexlor

#endif  // VEXLOR_UNPATCH_H_
