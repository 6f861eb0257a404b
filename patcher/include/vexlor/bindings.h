// Vexlor bindings patcher: safely patches the VR compositor's generic-HMD input-binding file.
//
// Every operation reports a plain success flag and tells the detail, one line per event, to the
// caller's Logger. No operation keeps state between calls: what it knows lies on disk, in the
// marker inside the bindings file and in the backup beside it. Two operations on the same
// bindings directory must not run at the same time.
#ifndef VEXLOR_BINDINGS_H_
#define VEXLOR_BINDINGS_H_

#include <filesystem>
#include <functional>

#include <nlohmann/json.hpp>

namespace vexlor {

// Receives one message; the pointer is valid only during the call. May be empty.
using Logger = std::function<void(const char* message)>;

// Writes `j` to `target` so that a reader sees either the old content or the complete new
// document, never a half-written file, even across a crash or a power loss. The document goes
// to the sibling "<target>.vexlor_tmp", is flushed to storage and renamed over `target`.
// Returns false, after exactly one message, on any failure; `target` is then unchanged.
bool AtomicWriteJson(const std::filesystem::path& target, const nlohmann::json& j, Logger log);

// Brings "vrcompositor_bindings_generic_hmd.json" in `bindingsDir` into the patched state,
// saving its original bytes once to "<file>.vexlor_backup" before the first change. True when
// the file is now patched (by this call or an earlier one).
bool PatchGenericHmdBindingsFile(const std::filesystem::path& bindingsDir, Logger log);

// Undoes the patch: restores the backup where one exists, otherwise erases what the patch
// added from a file that carries a Vexlor marker. Then removes the legacy "lighthouse_hmd"
// profile files an older release wrote. True when a settled state was reached, including
// "nothing to do" and "not ours".
bool UnpatchGenericHmdBindingsFile(const std::filesystem::path& bindingsDir, Logger log);

}  // namespace vexlor

#endif  // VEXLOR_BINDINGS_H_
