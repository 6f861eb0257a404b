// The profile files an older release of the patcher wrote for another controller type.
#ifndef VEXLOR_LEGACY_H_
#define VEXLOR_LEGACY_H_

#include <array>
#include <filesystem>
#include <string>

#include <nlohmann/json.hpp>

#include "vexlor/bindings.h"

namespace vexlor {

// True when `doc` is an object whose legacy marker member is the boolean true.
bool HasLegacyMarker(const nlohmann::json& doc);

// "vrcompositor_bindings_<type>.json" and "<type>_profile.json" in `bindingsDir`: the files an
// older release wrote for `controllerType`.
std::array<std::filesystem::path, 2> LegacyProfilePaths(const std::filesystem::path& bindingsDir,
                                                        const std::string& controllerType);

// Removes "vrcompositor_bindings_<type>.json" and "<type>_profile.json" from `bindingsDir`
// when they carry either marker; files without one are left alone and named in the log. No
// other file is looked at. Never throws for a file it does not like.
void CleanupLegacyProfiles(const std::filesystem::path& bindingsDir,
                           const std::string& controllerType, Logger log);

}  // namespace vexlor

#endif  // VEXLOR_LEGACY_H_
