// The profile files an older release of the patcher wrote for another controller type, and
// the marker rules that tell a file of ours.
#ifndef VEXLOR_LEGACY_H_
#define VEXLOR_LEGACY_H_

#include <array>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "json_file.h"
#include "log.h"

namespace vexlor {

// True when `doc` is an object whose legacy marker member is the boolean true.
bool HasLegacyMarker(const nlohmann::json& doc);

// The marker key that makes `doc` ours: the current one when it is set to true, else the
// legacy one when that is; nullptr for a document that carries neither.
const char* CarriedMarker(const nlohmann::json& doc);

// Both marker keys, for a validating read (ScanJsonText) that CarriedMarker can judge.
const std::vector<std::string_view>& MarkerKeys();

// CarriedMarker for a document read without building it, watching MarkerKeys().
const char* CarriedMarker(const DocumentOutline& outline);

// "vrcompositor_bindings_<type>.json" and "<type>_profile.json" in `bindingsDir`: the files an
// older release wrote for `controllerType`.
std::array<std::filesystem::path, 2> LegacyProfilePaths(const std::filesystem::path& bindingsDir,
                                                        const std::string& controllerType);

// The candidates a cleanup of `bindingsDir` would try to remove: those that carry a marker,
// or that could not be examined.
std::vector<std::filesystem::path> OwnLegacyProfiles(const std::filesystem::path& bindingsDir,
                                                     const std::string& controllerType);

// Whether a cleanup of `bindingsDir` would remove anything: a candidate that carries a marker.
bool HasOwnLegacyProfile(const std::filesystem::path& bindingsDir,
                         const std::string& controllerType);

// Removes "vrcompositor_bindings_<type>.json" and "<type>_profile.json" from `bindingsDir`
// when they carry either marker, and flushes the removals to storage; files without one are
// left alone and named in the log. No other file is looked at. Never throws for a file it
// does not like. False when a candidate may still be ours: it could not be examined or
// removed, so a later cleanup has something left to do.
bool CleanupLegacyProfiles(const std::filesystem::path& bindingsDir,
                           const std::string& controllerType, Logger log);

// The same, speaking as `log`'s operation and recording what it removes.
bool CleanupLegacyProfiles(const std::filesystem::path& bindingsDir,
                           const std::string& controllerType, const OperationLog& log);

}  // namespace vexlor

#endif  // VEXLOR_LEGACY_H_
