// File-level building blocks shared by the patch and unpatch operations.
#ifndef VEXLOR_FILE_OPS_H_
#define VEXLOR_FILE_OPS_H_

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "digest.h"
#include "failure.h"
#include "log.h"
#include "platform/platform.h"

namespace vexlor {

namespace fs = std::filesystem;

// `file` with `suffix` appended to its full path string: a sibling in the same directory.
fs::path SiblingPath(const fs::path& file, const char* suffix);

// Whether anything exists at `path`, following links. Only a not-found answer means absent;
// any other failure of the query is kUnknown, with its cause in `ec`.
FilePresence QueryPresence(const fs::path& path, std::error_code& ec);

// As QueryPresence, and a status that cannot be read fails as "cannot check <path>: <cause>",
// so that "cannot tell" never passes silently.
Status LookFor(const fs::path& path, FilePresence& presence);

// Where a write meant for `file` must go: `file` itself, or, when `file` is a symbolic link,
// the file it leads to, so that the link stays a link. A link that leads to a file of
// another owner than `dir`'s is refused: root patching a user's directory must never be led
// to someone else's file.
Status ResolveWriteTarget(const fs::path& file, const fs::path& dir, fs::path& target);

// Whether `target` may be replaced, found before anything is written: not when its owner made
// it read-only, nor in a directory whose files cannot be replaced (which would keep every
// temporary file made in it). The refusal's words are the cause alone.
Status MayReplace(const fs::path& target);

// Which step of ReplaceFileContents failed, if any. After kSync the new contents are in
// place, but the rename may not survive a crash: a warning, not a failure. kChanged: the
// target no longer held what the caller read, so it was left alone. kWithdrawn: the caller's
// last step before the rename said no. kReread: the target could not be read again to check
// it, and was left alone. kAbandoned: the caller of the operation asked it to stop
// (AbandonRequested) before the target was replaced.
enum class ReplaceStep { kNone, kWrite, kRename, kSync, kChanged, kWithdrawn, kReread, kAbandoned };

struct ReplaceResult {
    ReplaceStep failedStep = ReplaceStep::kNone;
    // Why the step failed, in the cause's words alone: the reporter says which file and step.
    // For kWithdrawn, the caller's own failure, whole; for kSync, the flush's error.
    Status failure;
    fs::path culprit;  // the file a kWrite failure is about, when it is not the target
    std::vector<std::string> dropped;  // attributes the new file lacks: "name: cause"
    bool replaced() const {
        return failedStep == ReplaceStep::kNone || failedStep == ReplaceStep::kSync;
    }
};

// The new contents of a file, produced while it is written. A failure of the producer's own,
// not the sink's, goes to `refusal`.
using ContentProducer =
    std::function<std::error_code(const platform::ByteSink& sink, Status& refusal)>;

// The contents `bytes`, which must outlive the producer, as a producer.
ContentProducer ContentOf(std::string_view bytes);

// `content` as it is, its bytes hashed into `digest` as they pass; each production starts the
// hash afresh.
ContentProducer HashedWhileWritten(ContentProducer content, DigestBuilder& digest);

// What a file held when the caller read it, for the check just before it is replaced: the
// bytes themselves, or only their digest where a large file was not kept. Neither: no check.
class WhatWasRead {
  public:
    // Implicit, so that the bytes read are simply passed along.
    WhatWasRead(const std::string* bytes = nullptr) : bytes_(bytes) {}  // NOLINT
    explicit WhatWasRead(const ContentDigest& digest) : digest_(digest), hashed_(true) {}

    bool known() const { return bytes_ != nullptr || hashed_; }
    // Whether `file` holds it still, read again without being kept. A read that fails says
    // nothing about that, and its error is returned instead.
    std::error_code StillIn(const std::filesystem::path& file, bool& same) const;

  private:
    const std::string* bytes_ = nullptr;
    ContentDigest digest_;
    bool hashed_ = false;
};

// Whether `file` holds exactly the bytes of `digest`, found as it is read and never kept; a
// file of another size is told at its first piece. A read that fails returns its error.
std::error_code HoldsDigest(const std::filesystem::path& file, const ContentDigest& digest,
                            bool& same);

// Makes `target` hold exactly `bytes` in one step: through the "<target>.vexlor_tmp" sibling,
// flushed to storage, then renamed over `target`. On failure `target` is unchanged and the
// temporary file is gone. A file the caller may not write is refused (kRename) untouched.
// With what was `read` known, the target must still hold exactly that just before the rename;
// otherwise someone wrote it since it was read, and it is left alone (kChanged), as it is when
// it cannot be read again (kReread).
ReplaceResult ReplaceFileContents(const fs::path& target, std::string_view bytes,
                                  const WhatWasRead& read = {});

// The same with contents produced as they are written. `beforeRename`, when given, runs once
// the new file is complete and flushed, before the target is checked and replaced; its
// failure withdraws the replacement (kWithdrawn).
ReplaceResult ReplaceFileContents(const fs::path& target, const ContentProducer& content,
                                  const WhatWasRead& read,
                                  const std::function<Status()>& beforeRename = {});

// How a replacement that failed in one of the ways every caller reports alike is told: kChanged
// as RetryWhileWrittenMeanwhile's signal to read again, kAbandoned, kReread and kWithdrawn in
// full. Success for the other steps, which each caller words for itself.
Status CommonReplaceFailure(const ReplaceResult& result, const fs::path& target);

// The warning, as a line of `log`'s operation, that `target` has other names (hard links),
// which a replacement leaves holding the old content; empty when it has none or the count
// cannot be read.
std::string OtherNamesWarning(const fs::path& target, const OperationLog& log);

// Warns, one line each, of the attributes `file` did not keep (CarriedOver).
void WarnOfDroppedAttributes(const std::vector<std::string>& dropped, const fs::path& file,
                             const OperationLog& log);

// A write refused because who may use the model file could not be given to the new one.
Status AccessNotCarried(const platform::CarriedOver& carried, const std::error_code& ec);

}  // namespace vexlor

#endif  // VEXLOR_FILE_OPS_H_
