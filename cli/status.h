// The state of a bindings directory as the patcher sees it, found without changing anything:
// every file is only examined and read, never opened for writing or created.
#ifndef VEXLOR_CLI_STATUS_H_
#define VEXLOR_CLI_STATUS_H_

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace vexlor::cli {

enum class BindingsState {
    kMissing,
    kNotReadable,
    kNotJson,
    kNotObject,
    kPatched,
    kPatchedLegacy,
    kNotPatched,
};

struct BindingsFact {
    BindingsState state = BindingsState::kMissing;
    std::string detail;  // the cause for kNotReadable and kNotJson, the JSON type for kNotObject
};

// A file the patcher writes beside the bindings file: the backup or a temporary file.
enum class PresenceState { kAbsent, kPresent, kUnknown };

struct FileFact {
    PresenceState state = PresenceState::kAbsent;
    std::optional<std::uintmax_t> size;  // when present and its size could be read
    std::string detail;                  // why the state or the size is not known
};

enum class LegacyState { kAbsent, kOurs, kNotOurs, kUnknown };

struct LegacyProfileFact {
    std::string fileName;
    LegacyState state = LegacyState::kAbsent;
    std::string marker;  // the marker key that makes it ours
    std::string detail;  // why its presence is not known
};

struct DirectoryStatus {
    std::string directory;  // as the user named it, UTF-8
    BindingsFact bindingsFile;
    FileFact backup;
    FileFact temporaryFile;        // "<bindings file>.vexlor_tmp"
    FileFact backupTemporaryFile;  // "<backup>.vexlor_tmp"
    std::vector<LegacyProfileFact> legacyProfiles;
};

// Whether `dir` can be reported on at all; an empty result means it is a directory,
// otherwise the text says what is wrong with it.
std::string DirectoryProblem(const std::filesystem::path& dir);

// Examines `dir`, which DirectoryProblem accepted.
DirectoryStatus InspectDirectory(const std::filesystem::path& dir);

// One fact a line, for people.
std::string FormatStatusText(const DirectoryStatus& status);

// The same facts as one object with stable keys, for installers.
nlohmann::json StatusToJson(const DirectoryStatus& status);

}  // namespace vexlor::cli

#endif  // VEXLOR_CLI_STATUS_H_
