// The public entry points. Each holds its own copy of the caller's logger for the length of
// the call and hands it to the operation. Each writing operation first takes its directory's
// lock, here and only here, so that an operation calling another never waits for itself.
#include "operations.h"

#include <utility>

#include "dir_lock.h"
#include "failure.h"

namespace vexlor {

namespace {

constexpr const char* kPatchTag = "Vexlor[patch]: ";
constexpr const char* kUnpatchTag = "Vexlor[unpatch]: ";

// An empty directory path, a bare file name's parent among them, means the current directory;
// so it is locked and named in messages.
std::filesystem::path orCurrent(const std::filesystem::path& dir) {
    return dir.empty() ? std::filesystem::path(".") : dir;
}

// Runs `operation` with a scope that collects why it failed, for the caller who asked.
template <typename Operation>
bool noteFailureKind(FailureKind& failure, Operation operation) {
    FailureScope scope;
    const bool succeeded = operation();
    failure = scope.Result(succeeded);
    return succeeded;
}

}  // namespace

bool AtomicWriteJson(const std::filesystem::path& target, const nlohmann::json& j, Logger log) {
    platform::DirectoryLock lock;
    return LockForWriting(orCurrent(target.parent_path()), kPatchTag, log, lock) &&
           WriteJsonAtomically(target, j, log);
}

bool PatchGenericHmdBindingsFile(const std::filesystem::path& bindingsDir, Logger log) {
    platform::DirectoryLock lock;
    return LockForWriting(orCurrent(bindingsDir), kPatchTag, log, lock) &&
           PatchBindingsDirectory(bindingsDir, log);
}

bool UnpatchGenericHmdBindingsFile(const std::filesystem::path& bindingsDir, Logger log) {
    platform::DirectoryLock lock;
    return LockForWriting(orCurrent(bindingsDir), kUnpatchTag, log, lock) &&
           UnpatchBindingsDirectory(bindingsDir, log);
}

bool PatchGenericHmdBindingsFile(const std::filesystem::path& bindingsDir, Logger log,
                                 FailureKind& failure) {
    return PatchGenericHmdBindingsFile(bindingsDir, std::move(log), failure, OperationControl());
}

bool UnpatchGenericHmdBindingsFile(const std::filesystem::path& bindingsDir, Logger log,
                                   FailureKind& failure) {
    return UnpatchGenericHmdBindingsFile(bindingsDir, std::move(log), failure, OperationControl());
}

bool PatchGenericHmdBindingsFile(const std::filesystem::path& bindingsDir, Logger log,
                                 FailureKind& failure, const OperationControl& control) {
    return noteFailureKind(failure, [&] {
        const AbandonScope wish(control.abandon);
        platform::DirectoryLock lock;
        return LockForWriting(orCurrent(bindingsDir), kPatchTag, log, lock, control.lockWait) &&
               PatchBindingsDirectory(bindingsDir, log);
    });
}

bool UnpatchGenericHmdBindingsFile(const std::filesystem::path& bindingsDir, Logger log,
                                   FailureKind& failure, const OperationControl& control) {
    return noteFailureKind(failure, [&] {
        const AbandonScope wish(control.abandon);
        platform::DirectoryLock lock;
        return LockForWriting(orCurrent(bindingsDir), kUnpatchTag, log, lock, control.lockWait) &&
               UnpatchBindingsDirectory(bindingsDir, log);
    });
}

}  // namespace vexlor
