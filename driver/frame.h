// The verification driver's frame: the check construct, the workspace, the fixture document
// and the whole-file reader that every scenario uses.
#ifndef VEXLOR_DRIVER_FRAME_H_
#define VEXLOR_DRIVER_FRAME_H_

#include <filesystem>
#include <iostream>
#include <string>

#include <nlohmann/json.hpp>

#include "vexlor/bindings.h"

namespace fs = std::filesystem;
using json = nlohmann::json;
using vexlor::AtomicWriteJson;
using vexlor::PatchGenericHmdBindingsFile;
using vexlor::UnpatchGenericHmdBindingsFile;

// The driver states the on-disk contract independently of the library's internals, so it
// names the marker itself.
inline constexpr const char* kMarkerKey = "vexlor_patched_v2";

// The logger every library call of the driver receives: the driver judges by results and
// files, never by messages.
extern const vexlor::Logger noopLog;

// A failed check prints its condition as written and its source line, then ends the
// scenario with status 1.
#define CHECK(condition)                                                      \
    do {                                                                      \
        if (!(condition)) {                                                   \
            std::cerr << "FAIL: " #condition " at line " << __LINE__ << '\n'; \
            return 1;                                                         \
        }                                                                     \
    } while (false)

// "vexlor_test_bindings_<pid>" under the temporary directory, emptied and re-created.
fs::path makeWorkspace();

json defaultGenericHmdBindings();

// Writes the fixture document as "vrcompositor_bindings_generic_hmd.json" in `workspace`.
void writeDefaultBindings(const fs::path& workspace);

// The file's bytes, or the empty string when it cannot be read.
std::string slurp(const fs::path& file);

#endif  // VEXLOR_DRIVER_FRAME_H_
