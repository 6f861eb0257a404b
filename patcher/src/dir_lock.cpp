#include "dir_lock.h"

#include <string>
#include <system_error>
#include <thread>

namespace vexlor {

namespace {

// Short enough that a waiter follows a holder within a few milliseconds, long enough that
// waiting costs next to nothing.
constexpr std::chrono::milliseconds kLockPollInterval{5};

// Waits until the lock is taken, `wait` has passed or the caller asks to stop; says once, at
// the start, that it waits.
std::error_code tryUntilDeadline(const std::filesystem::path& dir, platform::DirectoryLock& lock,
                                 std::chrono::milliseconds wait, const OperationLog& log) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (bool told = false;; told = true) {
        const std::error_code ec = platform::TryLockDirectory(dir, lock);
        if (ec != std::errc::device_or_resource_busy ||
            std::chrono::steady_clock::now() >= deadline || AbandonRequested()) {
            return ec;
        }
        if (!told) {
            log.Say("waiting for another operation on %s to finish (up to %s)\n",
                    platform::DisplayPath(dir).c_str(), Seconds(wait).c_str());
        }
        std::this_thread::sleep_for(kLockPollInterval);
    }
}

// Why the lock could not be taken at all, as the user can act on it: a directory that may
// not be read cannot be opened for its lock.
Status lockError(const std::error_code& ec, const std::filesystem::path& dir) {
    return Status::FromSystem(
        ec, FailureKind::kDirectoryNotReadable, FailureKind::kOther,
        Format("cannot lock %s against other operations: %s", platform::DisplayPath(dir).c_str(),
               platform::ErrorText(ec).c_str()));
}

}  // namespace

std::string Seconds(std::chrono::milliseconds span) {
    const auto whole = std::chrono::duration_cast<std::chrono::seconds>(span);
    return std::to_string(whole.count()) + " s";
}

Status LockForWriting(const std::filesystem::path& givenDir, const OperationLog& log,
                      platform::DirectoryLock& lock, std::chrono::milliseconds wait) {
    const std::filesystem::path dir = platform::DirectoryOrCurrent(givenDir);
    const std::error_code ec = tryUntilDeadline(dir, lock, wait, log);
    if (!ec || ec == std::errc::no_such_file_or_directory) {
        return {};
    }
    const std::string dirText = platform::DisplayPath(dir);
    if (ec != std::errc::device_or_resource_busy) {
        return lockError(ec, dir);
    }
    if (AbandonRequested()) {
        return Status::Failed(
            FailureKind::kAbandoned,
            Format("stopped while waiting for another operation on %s; nothing was changed",
                   dirText.c_str()));
    }
    if (wait.count() == 0) {
        return Status::Failed(
            FailureKind::kBusy,
            Format("another operation on %s is running; nothing was changed", dirText.c_str()));
    }
    return Status::Failed(
        FailureKind::kBusy,
        Format("another operation on %s is still running after %s; nothing was changed",
               dirText.c_str(), Seconds(wait).c_str()));
}

Status ProbeForPlan(const std::filesystem::path& givenDir, const OperationLog& log,
                    std::vector<std::string>& warnings) {
    const std::filesystem::path dir = platform::DirectoryOrCurrent(givenDir);
    bool held = false;
    const std::error_code ec = platform::ProbeDirectoryLock(dir, held);
    if (ec && ec != std::errc::no_such_file_or_directory) {
        return lockError(ec, dir);
    }
    if (held) {
        warnings.push_back(log.Line("another operation on " + platform::DisplayPath(dir) +
                                    " is running now; the real run would wait for it to finish"));
    }
    return {};
}

}  // namespace vexlor
