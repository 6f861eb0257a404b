// libFuzzer target: whatever bytes the compositor's bindings file may hold, a patch and the
// unpatch after it must keep their promises about the disk. The input becomes the bindings file
// in a scratch directory; every broken promise stops the run with a trap, so that libFuzzer
// saves the input that broke it.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "vexlor/bindings.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

#define VEXLOR_ENSURE(condition)                                                            \
    do {                                                                                    \
        if (!(condition)) {                                                                 \
            std::fprintf(stderr, "invariant broken: %s (line %d)\n", #condition, __LINE__); \
            __builtin_trap();                                                               \
        }                                                                                   \
    } while (false)

// One directory for the whole run, on tmpfs where there is one: the library flushes every
// write to storage, which a disk would make the slowest part of each input by far.
class Scratch {
  public:
    Scratch() {
        const fs::path shm = "/dev/shm";
        const fs::path base = fs::is_directory(shm) && ::access(shm.c_str(), W_OK) == 0
                                  ? shm
                                  : fs::temp_directory_path();
        dir_ = base / ("vexlor_fuzz_" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directory(dir_);
    }
    ~Scratch() {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
    void empty() const {
        for (const auto& entry : fs::directory_iterator(dir_)) {
            fs::remove_all(entry.path());
        }
    }
    const fs::path& dir() const { return dir_; }
    fs::path bindings() const { return dir_ / vexlor::kBindingsFileName; }
    fs::path backup() const {
        return dir_ / (std::string(vexlor::kBindingsFileName) + vexlor::kBackupSuffix);
    }

  private:
    fs::path dir_;
};

void writeFile(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    out.close();
    VEXLOR_ENSURE(out.good());
}

std::optional<std::string> readIfPresent(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

std::string readFile(const fs::path& path) {
    std::optional<std::string> bytes = readIfPresent(path);
    VEXLOR_ENSURE(bytes.has_value());
    return *bytes;
}

// The first complete JSON value of `text`, as the library reads a file; comments are errors.
std::optional<json> firstValue(const std::string& text) {
    std::istringstream in(text);
    json value;
    try {
        in >> value;
    } catch (const json::exception&) {
        return std::nullopt;
    }
    return value;
}

bool noTemporaryFileIn(const fs::path& dir) {
    for (const auto& entry : fs::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        const std::string suffix = vexlor::kTempSuffix;
        if (name.size() >= suffix.size() &&
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
            return false;
        }
    }
    return true;
}

bool mentions(const std::vector<std::string>& messages, const std::string& text) {
    for (const std::string& message : messages) {
        if (message.find(text) != std::string::npos) {
            return true;
        }
    }
    return false;
}

vexlor::Logger collectInto(std::vector<std::string>& messages) {
    return [&messages](const char* message) { messages.emplace_back(message); };
}

// A marker counts only as an object's member set to the boolean true.
bool carriesMarker(const json& document, const char* key) {
    const auto member = document.find(key);  // end() for anything but an object
    return member != document.end() && member->is_boolean() && member->get<bool>();
}

bool carriesEitherMarker(const json& document) {
    return carriesMarker(document, vexlor::kMarkerKey) ||
           carriesMarker(document, vexlor::kLegacyMarkerKey);
}

struct PatchOutcome {
    std::string fileAfter;
    std::optional<std::string> backup;
};

PatchOutcome checkPatch(const Scratch& scratch, const std::string& input) {
    std::vector<std::string> log;
    const bool patched = vexlor::PatchGenericHmdBindingsFile(scratch.dir(), collectInto(log));
    VEXLOR_ENSURE(noTemporaryFileIn(scratch.dir()));
    PatchOutcome outcome{readFile(scratch.bindings()), readIfPresent(scratch.backup())};
    const std::optional<json> original = firstValue(input);
    if (!patched) {
        VEXLOR_ENSURE(!log.empty());
        VEXLOR_ENSURE(outcome.fileAfter == input);
        VEXLOR_ENSURE(!outcome.backup || *outcome.backup == input);
        if (!original) {
            VEXLOR_ENSURE(mentions(log, "failed to parse"));
        }
        if (mentions(log, "failed to parse")) {
            VEXLOR_ENSURE(!outcome.backup);
        }
        return outcome;
    }
    const std::optional<json> written = firstValue(outcome.fileAfter);
    VEXLOR_ENSURE(written && carriesMarker(*written, vexlor::kMarkerKey));
    VEXLOR_ENSURE(original.has_value());
    if (carriesMarker(*original, vexlor::kMarkerKey)) {
        VEXLOR_ENSURE(outcome.fileAfter == input);
        VEXLOR_ENSURE(!outcome.backup);
    } else {
        VEXLOR_ENSURE(outcome.backup && *outcome.backup == input);
        VEXLOR_ENSURE(!written->contains(vexlor::kLegacyMarkerKey));
    }
    return outcome;
}

void checkUnpatch(const Scratch& scratch, const std::string& input, const PatchOutcome& patch) {
    std::vector<std::string> log;
    const bool unpatched = vexlor::UnpatchGenericHmdBindingsFile(scratch.dir(), collectInto(log));
    VEXLOR_ENSURE(noTemporaryFileIn(scratch.dir()));
    const std::string fileAfter = readFile(scratch.bindings());
    if (patch.backup) {
        VEXLOR_ENSURE(unpatched);
        VEXLOR_ENSURE(readIfPresent(scratch.backup()) == patch.backup);
        // A backup that itself carries a patch of either release is restored with that patch
        // taken out: unpatch leaves no patch behind.
        const std::optional<json> original = firstValue(input);
        if (original && carriesEitherMarker(*original)) {
            const std::optional<json> written = firstValue(fileAfter);
            VEXLOR_ENSURE(written && !carriesEitherMarker(*written));
        } else {
            VEXLOR_ENSURE(fileAfter == input);
        }
        return;
    }
    if (!unpatched) {
        VEXLOR_ENSURE(!log.empty());
        VEXLOR_ENSURE(fileAfter == patch.fileAfter);
        return;
    }
    if (fileAfter != patch.fileAfter) {
        const std::optional<json> written = firstValue(fileAfter);
        VEXLOR_ENSURE(written && !carriesEitherMarker(*written));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const Scratch scratch;
    scratch.empty();
    const std::string input(reinterpret_cast<const char*>(data), size);
    writeFile(scratch.bindings(), input);
    const PatchOutcome patch = checkPatch(scratch, input);
    checkUnpatch(scratch, input, patch);
    return 0;
}
