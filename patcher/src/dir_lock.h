// The wait for a directory's lock that every writing operation goes through, so that two
// operations on one directory, in one process or in two, take turns instead of mixing their
// steps.
#ifndef VEXLOR_DIR_LOCK_H_
#define VEXLOR_DIR_LOCK_H_

#include <chrono>
#include <filesystem>

#include "platform.h"
#include "vexlor/bindings.h"

namespace vexlor {

// How long an operation waits for another on the same directory before it gives up. A real
// bindings file is rewritten in milliseconds; the largest file the patcher accepts (64 MiB)
// takes some seconds on a slow disk, and a run queued behind one such operation still gets
// through. A user who started the tool twice by mistake hears of it promptly.
inline constexpr std::chrono::seconds kLockWaitLimit{10};

// Takes the lock on `dir` into `lock`, waiting up to kLockWaitLimit while another operation
// holds it. On failure logs one message that starts with `tag` ("Vexlor[patch]: ") and
// returns false; nothing has been changed then. A `dir` that does not exist is left unlocked
// and passes: the operation finds nothing there it could change, and says so in its own words.
bool LockForWriting(const std::filesystem::path& dir, const char* tag, const Logger& log,
                    platform::DirectoryLock& lock);

}  // namespace vexlor

#endif  // VEXLOR_DIR_LOCK_H_
