#include "test_support.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include "platform/platform.h"
#include "run_process.h"

namespace vexlor::testing {

TempDir::TempDir() {
    static std::atomic<unsigned> counter{0};
    const fs::path base = fs::temp_directory_path();
    for (;;) {
        path_ = base / ("vexlor_unit_" + std::to_string(CurrentProcessId()) + "_" +
                        std::to_string(counter++));
        if (fs::create_directory(path_)) {
            return;
        }
    }
}

TempDir::~TempDir() {
    std::error_code ignored;
    // Tests may leave read-only entries behind; make them removable first.
    for (auto it = fs::recursive_directory_iterator(path_, ignored);
         it != fs::recursive_directory_iterator(); it.increment(ignored)) {
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(path_, ignored);
}

std::string ReadBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot open " + file.string());
    }
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void WriteBytes(const fs::path& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << bytes;
    out.close();
    if (!out) {
        throw std::runtime_error("cannot write " + file.string());
    }
}

std::vector<std::string> ListDir(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) {
        names.push_back(entry.path().filename().u8string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

Logger CapturingLogger::logger() {
    return [this](const char* message) { messages_.emplace_back(message); };
}

std::string CapturingLogger::joined() const {
    std::string all;
    for (const std::string& m : messages_) {
        all += m;
    }
    return all;
}

std::string Shown(const fs::path& path) {
    return platform::DisplayPath(path);
}

fs::path CorpusDir() {
    if (const char* elsewhere = std::getenv("VEXLOR_CORPUS_DIR")) {
        return fs::u8path(elsewhere);
    }
    return fs::path(VEXLOR_SOURCE_DIR).parent_path() / "shared" / "corpus" / "json-test-suite";
}

}  // namespace vexlor::testing
