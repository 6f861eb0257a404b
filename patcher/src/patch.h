// The patch of one bindings directory, without the lock and the retries its public entry
// points add around it.
#ifndef VEXLOR_PATCH_H_
#define VEXLOR_PATCH_H_

#include <filesystem>

#include "failure.h"
#include "log.h"

namespace vexlor {

Status PatchBindingsDirectory(const std::filesystem::path& bindingsDir, const OperationLog& log);

}  // namespace vexlor

#endif  // VEXLOR_PATCH_H_
