// The patcher's operations without the serialization the public entry points add around
// them (operations.cpp). An operation that calls another calls it through here, so nothing
// takes the same hold twice.
#ifndef VEXLOR_OPERATIONS_H_
#define VEXLOR_OPERATIONS_H_

#include <filesystem>

#include <nlohmann/json.hpp>

#include "vexlor/bindings.h"

namespace vexlor {

bool WriteJsonAtomically(const std::filesystem::path& target, const nlohmann::json& j,
                         const Logger& log);
bool PatchBindingsDirectory(const std::filesystem::path& bindingsDir, const Logger& log);
bool UnpatchBindingsDirectory(const std::filesystem::path& bindingsDir, const Logger& log);

}  // namespace vexlor

#endif  // VEXLOR_OPERATIONS_H_
