// The names the patcher shares with the compositor, with older releases and with itself
// across runs: everything it knows between calls is kept under these names on disk.
#ifndef VEXLOR_NAMES_H_
#define VEXLOR_NAMES_H_

namespace vexlor {

inline constexpr const char* kMarkerKey = "vexlor_patched_v2";
inline constexpr const char* kLegacyMarkerKey = "vexlor_patched_v1";

inline constexpr const char* kBindingsFileName = "vrcompositor_bindings_generic_hmd.json";
inline constexpr const char* kBackupSuffix = ".vexlor_backup";
inline constexpr const char* kTempSuffix = ".vexlor_tmp";

inline constexpr const char* kBindingsKey = "bindings";
inline constexpr const char* kInjectedActionSets[] = {
    "/actions/lasermouse",
    "/actions/lasermouse_secondary",
    "/actions/system",
};

// The controller type whose profile files an older release wrote.
inline constexpr const char* kLegacyControllerType = "lighthouse_hmd";

}  // namespace vexlor

#endif  // VEXLOR_NAMES_H_
