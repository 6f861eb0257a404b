// What every test needs: a real scratch directory, exact file bytes, and the messages a
// library call logged.
#ifndef VEXLOR_TESTS_TEST_SUPPORT_H_
#define VEXLOR_TESTS_TEST_SUPPORT_H_

#include <filesystem>
#include <string>
#include <vector>

#include "vexlor/bindings.h"

namespace vexlor::testing {

namespace fs = std::filesystem;

// A fresh, empty directory under the system's temporary directory, removed again (with
// everything in it) when the object goes away.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const fs::path& path() const { return path_; }
    fs::path operator/(const fs::path& name) const { return path_ / name; }

  private:
    fs::path path_;
};

// Every byte of the file; throws std::runtime_error when it cannot be opened.
std::string ReadBytes(const fs::path& file);
// Creates or truncates `file` and writes exactly `bytes`; throws when that fails.
void WriteBytes(const fs::path& file, const std::string& bytes);
// The names of the directory's entries, sorted: a whole-directory picture for "nothing else
// changed" assertions.
std::vector<std::string> ListDir(const fs::path& dir);

// Collects what a library call logs.
class CapturingLogger {
  public:
    Logger logger();
    const std::vector<std::string>& messages() const { return messages_; }
    std::string joined() const;

  private:
    std::vector<std::string> messages_;
};

// The path as the library prints it in messages.
std::string Shown(const fs::path& path);

// The shared JSON conformance corpus, beside the repository, or where VEXLOR_CORPUS_DIR says.
fs::path CorpusDir();

}  // namespace vexlor::testing

#endif  // VEXLOR_TESTS_TEST_SUPPORT_H_
