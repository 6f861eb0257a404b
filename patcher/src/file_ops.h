// File-level building blocks shared by the patch and unpatch operations.
#ifndef VEXLOR_FILE_OPS_H_
#define VEXLOR_FILE_OPS_H_

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform.h"
#include "vexlor/bindings.h"

namespace vexlor {

namespace fs = std::filesystem;

// `file` with `suffix` appended to its full path string: a sibling in the same directory.
fs::path SiblingPath(const fs::path& file, const char* suffix);

enum class Presence { kAbsent, kPresent, kUnknown };

// Whether anything exists at `path`, following links. Only a not-found answer means absent;
// any other failure of the query is kUnknown, with its cause in `ec`.
Presence QueryPresence(const fs::path& path, std::error_code& ec);

// As QueryPresence, and a status that cannot be read is reported to `log` as
// "<tag>cannot check <path>: <cause>", so that "cannot tell" never passes silently.
Presence LookFor(const fs::path& path, const char* tag, const Logger& log);

// Where a write meant for `file` must go: `file` itself, or, when `file` is a symbolic link,
// the file it leads to, so that the link stays a link. A link that leads to a file of
// another owner than `dir`'s is refused (logged with `tag`): root patching a user's
// directory must never be led to someone else's file.
bool ResolveWriteTarget(const fs::path& file, const fs::path& dir, const char* tag,
                        const Logger& log, fs::path& target);

// Whether `target` may be replaced, found before anything is written: not when its owner made
// it read-only, nor in a directory whose files cannot be replaced (which would keep every
// temporary file made in it). On refusal notes the failure kind and says why in `cause`.
bool MayReplace(const fs::path& target, std::string& cause);

// Which step of ReplaceFileContents failed, if any. After kSync the new contents are in
// place, but the rename may not survive a crash: a warning, not a failure. kChanged: the
// target no longer held what the caller read, so it was left alone. kWithdrawn: the caller's
// last step before the rename said no (and logged why). kReread: the target could not be read
// again to check it, and was left alone. kAbandoned: the caller of the operation asked it to
// stop (AbandonRequested) before the target was replaced.
enum class ReplaceStep { kNone, kWrite, kRename, kSync, kChanged, kWithdrawn, kReread, kAbandoned };

struct ReplaceResult {
    ReplaceStep failedStep = ReplaceStep::kNone;
    std::error_code error;
    fs::path culprit;   // the file a kWrite failure is about, when it is not the target
    std::string cause;  // why the contents could not be produced, for a kWrite not the system's
    std::vector<std::string> dropped;  // attributes the new file lacks: "name: cause"
    bool replaced() const {
        return failedStep == ReplaceStep::kNone || failedStep == ReplaceStep::kSync;
    }
};

// The new contents of a file, produced while it is written; the cause of a failure goes to
// `cause` when it is not the sink's.
using ContentProducer =
    std::function<std::error_code(const platform::ByteSink& sink, std::string& cause)>;

// The contents `bytes`, which must outlive the producer, as a producer.
ContentProducer ContentOf(std::string_view bytes);

// Makes `target` hold exactly `bytes` in one step: through the "<target>.vexlor_tmp" sibling,
// flushed to storage, then renamed over `target`. On failure `target` is unchanged and the
// temporary file is gone. A file the caller may not write is refused (kRename) untouched.
// With `readBytes`, the target must still hold exactly those bytes just before the rename;
// otherwise someone wrote it since it was read, and it is left alone (kChanged), as it is when
// it cannot be read again (kReread).
ReplaceResult ReplaceFileContents(const fs::path& target, std::string_view bytes,
                                  const std::string* readBytes = nullptr);

// The same with contents produced as they are written. `beforeRename`, when given, runs once
// the new file is complete and flushed, before the target is checked and replaced; false
// withdraws the replacement (kWithdrawn).
ReplaceResult ReplaceFileContents(const fs::path& target, const ContentProducer& content,
                                  const std::string* readBytes,
                                  const std::function<bool()>& beforeRename = {});

// The contents `j` has on disk, streamed: serialized in pieces of a fixed size, refused with a
// cause once they pass the largest file the patcher reads back, or when `j` cannot be
// serialized (a string that is not UTF-8).
ContentProducer SerializedForWriting(const nlohmann::json& j);

// The warning, with `tag`, that `target` has other names (hard links), which a replacement
// leaves holding the old content; empty when it has none or the count cannot be read.
std::string OtherNamesWarning(const fs::path& target, const char* tag);

// Warns, one line each with `tag`, of the attributes `file` did not keep (CarriedOver).
void WarnOfDroppedAttributes(const std::vector<std::string>& dropped, const fs::path& file,
                             const char* tag, const Logger& log);

// Logs, with `tag`, that the operation stopped as asked before it replaced `target`.
void LogAbandoned(const fs::path& target, const char* tag, const Logger& log);

// Logs, with `tag`, that `target` could not be read again before it was to be replaced.
void LogRereadFailure(const ReplaceResult& result, const fs::path& target, const char* tag,
                      const Logger& log);

// The cause of a write refused because who may use `model` could not be given to the new
// file, noted as kAccessNotCarried.
std::string AccessNotCarriedCause(const platform::CarriedOver& carried, const std::error_code& ec);

// Logs a failed replacement of `target` as a write-back does, under the "Vexlor[patch]: "
// tag whoever calls; a replacement that could not be flushed is a warning. True when the
// target was replaced.
bool ReportWriteBack(const ReplaceResult& result, const fs::path& target, const Logger& log);

// Whether `j` can be written in the on-disk form; false with the reason: serialization fails,
// or the text would be larger than any file the patcher reads back.
bool CanSerializeForWriting(const nlohmann::json& j, std::string& cause);

// Called by ReplaceFileContents after the new file is complete and before it checks the
// target and renames: lets a test change the target at exactly that moment. Empty normally.
void SetBeforeReplaceHookForTesting(std::function<void(const fs::path& target)> hook);

}  // namespace vexlor

#endif  // VEXLOR_FILE_OPS_H_
