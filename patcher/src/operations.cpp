// The public entry points. Each holds its own copy of the caller's logger for the length of
// the call and hands it to the operation.
#include "operations.h"

namespace vexlor {

bool AtomicWriteJson(const std::filesystem::path& target, const nlohmann::json& j, Logger log) {
    return WriteJsonAtomically(target, j, log);
}

bool PatchGenericHmdBindingsFile(const std::filesystem::path& bindingsDir, Logger log) {
    return PatchBindingsDirectory(bindingsDir, log);
}

bool UnpatchGenericHmdBindingsFile(const std::filesystem::path& bindingsDir, Logger log) {
    return UnpatchBindingsDirectory(bindingsDir, log);
}

}  // namespace vexlor
