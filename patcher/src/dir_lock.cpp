#include "dir_lock.h"

#include <string>
#include <system_error>
#include <thread>

#include "failure.h"
#include "log.h"

namespace vexlor {

namespace {

// Short enough that a waiter follows a holder within a few milliseconds, long enough that
// waiting costs next to nothing.
constexpr std::chrono::milliseconds kLockPollInterval{5};

std::error_code tryUntilDeadline(const std::filesystem::path& dir, platform::DirectoryLock& lock) {
    const auto deadline = std::chrono::steady_clock::now() + kLockWaitLimit;
    for (;;) {
        const std::error_code ec = platform::TryLockDirectory(dir, lock);
        if (ec != std::errc::device_or_resource_busy ||
            std::chrono::steady_clock::now() >= deadline) {
            return ec;
        }
        std::this_thread::sleep_for(kLockPollInterval);
    }
}

}  // namespace

bool LockForWriting(const std::filesystem::path& dir, const char* tag, const Logger& log,
                    platform::DirectoryLock& lock) {
    const std::error_code ec = tryUntilDeadline(dir, lock);
    if (!ec || ec == std::errc::no_such_file_or_directory) {
        return true;
    }
    const std::string dirText = platform::DisplayPath(dir);
    if (ec == std::errc::device_or_resource_busy) {
        NoteFailure(FailureKind::kBusy);
        LogFormatted(log,
                     "%sanother operation on %s is still running after %u s; nothing was changed\n",
                     tag, dirText.c_str(), static_cast<unsigned>(kLockWaitLimit.count()));
    } else {
        NoteSystemFailure(ec, FailureKind::kDirectoryNotWritable, FailureKind::kOther);
        LogFormatted(log, "%scannot lock %s against other operations: %s\n", tag, dirText.c_str(),
                     platform::ErrorText(ec).c_str());
    }
    return false;
}

}  // namespace vexlor
