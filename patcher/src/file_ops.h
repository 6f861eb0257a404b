// File-level building blocks shared by the patch and unpatch operations.
#ifndef VEXLOR_FILE_OPS_H_
#define VEXLOR_FILE_OPS_H_

#include <filesystem>
#include <string_view>
#include <system_error>

namespace vexlor {

namespace fs = std::filesystem;

// `file` with `suffix` appended to its full path string: a sibling in the same directory.
fs::path SiblingPath(const fs::path& file, const char* suffix);

enum class Presence { kAbsent, kPresent, kUnknown };

// Whether anything exists at `path`, following links. Only a not-found answer means absent;
// any other failure of the query is kUnknown, with its cause in `ec`.
Presence QueryPresence(const fs::path& path, std::error_code& ec);

// Which step of ReplaceFileContents failed, if any. After kSync the new contents are in
// place, but the rename may not survive a crash: a warning, not a failure.
enum class ReplaceStep { kNone, kWrite, kRename, kSync };

struct ReplaceResult {
    ReplaceStep failedStep = ReplaceStep::kNone;
    std::error_code error;
    bool replaced() const {
        return failedStep == ReplaceStep::kNone || failedStep == ReplaceStep::kSync;
    }
    explicit operator bool() const { return failedStep == ReplaceStep::kNone; }
};

// Makes `target` hold exactly `bytes` in one step: through the "<target>.vexlor_tmp" sibling,
// flushed to storage, then renamed over `target`. On failure `target` is unchanged and the
// temporary file is gone. A file the caller may not write is refused (kRename) untouched.
ReplaceResult ReplaceFileContents(const fs::path& target, std::string_view bytes);

}  // namespace vexlor

#endif  // VEXLOR_FILE_OPS_H_
