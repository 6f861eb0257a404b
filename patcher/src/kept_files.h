// Files the patcher keeps beside the bindings file so that no bytes are ever lost: the
// backups of the originals and the copies taken before an undo. Each comes in generations of
// one name ("<name>", "<name>.2", ...), written once, whole and durably, and never replaced.
#ifndef VEXLOR_KEPT_FILES_H_
#define VEXLOR_KEPT_FILES_H_

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "failure.h"
#include "log.h"

namespace vexlor {

// Generation `number` of `first`: `first` itself for 1, "<first>.<number>" after it.
std::filesystem::path GenerationPath(const std::filesystem::path& first, int number);

struct Generations {
    std::vector<std::filesystem::path> present;  // oldest first
    int newest = 0;                              // the newest one's number; 0 when none is there
    std::filesystem::path newestPath() const { return present.empty() ? "" : present.back(); }
};

// The generations of `first` in the directory `dir`. Fails as `failed` when one of the names
// cannot be checked or holds something that is not a file of the directory's owner: "cannot
// tell" is never taken for "absent", and nothing is removed.
Status FindGenerations(const std::filesystem::path& first, const std::filesystem::path& dir,
                       FailureKind failed, Generations& found);

// Where the next generation after `found` goes, into `next`; fails as `failed` when all
// kMaxGenerations names are taken.
Status NextGeneration(const std::filesystem::path& first, const Generations& found,
                      FailureKind failed, std::filesystem::path& next);

// Puts `bytes` durably in place at `path`, where nothing may stand: through a temporary
// sibling, flushed, moved by a step that never replaces, and the directory flushed after. The
// new file takes who may use `model` (permission bits, group, ACL, label), and its other
// attributes, those it cannot take named in a warning in `log`. A failure is of kind `failed`
// (or kAccessNotCarried), and leaves `path` either whole or absent. A `note` is kept with the
// new file (platform::WriteFileNote) where the file system allows.
Status KeepFile(const std::filesystem::path& path, const std::string& bytes,
                const std::filesystem::path& model, FailureKind failed, const OperationLog& log,
                std::string_view note = {});

// Removes the temporary name an interrupted KeepFile left beside `path`, saying so when it
// cannot.
void ClearKeptFileLeftover(const std::filesystem::path& path, const OperationLog& log);

}  // namespace vexlor

#endif  // VEXLOR_KEPT_FILES_H_
