// The wait for a directory's lock that every writing operation goes through, so that two
// operations on one directory, in one process or in two, take turns instead of mixing their
// steps.
#ifndef VEXLOR_DIR_LOCK_H_
#define VEXLOR_DIR_LOCK_H_

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "failure.h"
#include "log.h"
#include "platform/platform.h"

namespace vexlor {

// How long an operation waits for another on the same directory before it gives up. A real
// bindings file is rewritten in milliseconds; the largest file the patcher accepts (64 MiB)
// takes some seconds on a slow disk, and a run queued behind one such operation still gets
// through. A user who started the tool twice by mistake hears of it promptly.
inline constexpr std::chrono::seconds kLockWaitLimit{10};

// `span` in whole seconds for messages: "10 s".
std::string Seconds(std::chrono::milliseconds span);

// Takes the lock on `dir` into `lock`, waiting up to `wait` while another operation holds it,
// and saying at once that it waits. A failure, a caller's wish to stop among them, has
// changed nothing. A `dir` that does not exist is left unlocked and passes: the operation
// finds nothing there it could change, and says so in its own words. An empty `dir` is the
// current directory, and is named "." in messages.
Status LockForWriting(const std::filesystem::path& dir, const OperationLog& log,
                      platform::DirectoryLock& lock,
                      std::chrono::milliseconds wait = kLockWaitLimit);

// For a plan: whether the lock on `dir` could be taken now, without taking it. Fails as
// LockForWriting does when it could not be taken at all; while another operation holds it,
// `warnings` gets a line that says so.
Status ProbeForPlan(const std::filesystem::path& dir, const OperationLog& log,
                    std::vector<std::string>& warnings);

}  // namespace vexlor

#endif  // VEXLOR_DIR_LOCK_H_
