// Documents and file names the patcher's tests share: the default generic-HMD bindings file,
// the same file after a patch, and the paths a bindings directory holds.
#ifndef VEXLOR_TESTS_BINDINGS_FIXTURES_H_
#define VEXLOR_TESTS_BINDINGS_FIXTURES_H_

#include <filesystem>
#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "test_support.h"

namespace vexlor::testing {

using json = nlohmann::json;

// The default generic-HMD bindings file as the compositor ships it (104 bytes).
inline const std::string kFixtureBytes =
    "{\n"
    "    \"bindings\": {},\n"
    "    \"controller_type\": \"generic_hmd\",\n"
    "    \"name\": \"default generic_hmd bindings\"\n"
    "}";

// The same file after one patch, byte for byte.
inline const std::string kPatchedFixtureBytes = R"json({
    "bindings": {
        "/actions/lasermouse": {
            "poses": [
                {
                    "output": "/actions/lasermouse/in/Pointer",
                    "path": "/user/head/pose/raw"
                }
            ],
            "sources": [
                {
                    "inputs": {
                        "click": {
                            "output": "/actions/lasermouse/in/LeftClick"
                        }
                    },
                    "mode": "button",
                    "path": "/user/head/input/system"
                }
            ]
        },
        "/actions/lasermouse_secondary": {
            "poses": [],
            "sources": [
                {
                    "inputs": {
                        "click": {
                            "output": "/actions/lasermouse_secondary/in/SwitchLaserHand"
                        }
                    },
                    "mode": "button",
                    "path": "/user/head/input/system"
                }
            ]
        },
        "/actions/system": {
            "sources": [
                {
                    "inputs": {
                        "double": {
                            "output": "/actions/system/in/ToggleRoomView"
                        },
                        "single": {
                            "output": "/actions/system/in/ToggleDashboard"
                        }
                    },
                    "mode": "complex_button",
                    "path": "/user/head/input/system"
                }
            ]
        }
    },
    "controller_type": "generic_hmd",
    "name": "default generic_hmd bindings",
    "vexlor_patched_v2": true
})json";

// Exactly the three action sets a patch puts under "bindings".
inline json InjectedActionSets() {
    return json::parse(kPatchedFixtureBytes).at("bindings");
}

// `doc` (an object) as a patch should leave it: the three action sets set, every other
// action set kept, the legacy marker gone and the marker true.
inline json Patched(json doc) {
    if (doc.is_null() || !doc.contains("bindings") || !doc["bindings"].is_object()) {
        doc["bindings"] = json::object();
    }
    const json injected = InjectedActionSets();
    for (const auto& [name, set] : injected.items()) {
        doc["bindings"][name] = set;
    }
    doc.erase("vexlor_patched_v1");
    doc["vexlor_patched_v2"] = true;
    return doc;
}

// A bindings directory and the names the patcher uses in it.
struct BindingsDir {
    TempDir dir;
    std::filesystem::path file = dir / "vrcompositor_bindings_generic_hmd.json";
    std::filesystem::path backup = dir / "vrcompositor_bindings_generic_hmd.json.vexlor_backup";
    std::filesystem::path temp = dir / "vrcompositor_bindings_generic_hmd.json.vexlor_tmp";
    std::filesystem::path lighthouseBindings = dir / "vrcompositor_bindings_lighthouse_hmd.json";
    std::filesystem::path lighthouseProfile = dir / "lighthouse_hmd_profile.json";

    const std::filesystem::path& path() const { return dir.path(); }
    std::vector<std::string> entries() const { return ListDir(dir.path()); }
};

// The temporary sibling every write of `file` goes through.
inline std::filesystem::path TempSiblingOf(const std::filesystem::path& file) {
    std::filesystem::path temp = file;
    temp += ".vexlor_tmp";
    return temp;
}

inline std::string NameOf(const std::filesystem::path& path) {
    return path.filename().u8string();
}

// A message made of `prefix`, a non-empty cause and the final newline; the cause is the
// system's or a library's own wording and differs between platforms.
inline ::testing::AssertionResult HasCauseAfter(const std::string& message,
                                                const std::string& prefix) {
    if (message.compare(0, prefix.size(), prefix) != 0) {
        return ::testing::AssertionFailure()
               << "\"" << message << "\" does not start with \"" << prefix << "\"";
    }
    if (message.size() < prefix.size() + 2 || message.back() != '\n' ||
        message.find('\n') != message.size() - 1) {
        return ::testing::AssertionFailure()
               << "\"" << message << "\" lacks a one-line cause ended by a newline";
    }
    return ::testing::AssertionSuccess();
}

}  // namespace vexlor::testing

#endif  // VEXLOR_TESTS_BINDINGS_FIXTURES_H_
