// The public entry points. Each holds its own copy of the caller's logger for the length of
// the call and hands it to the operation. Each writing operation first takes its directory's
// lock, here and only here, so that an operation calling another never waits for itself.
#include "operations.h"

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "dir_lock.h"
#include "failure.h"
#include "file_ops.h"
#include "kept_files.h"
#include "names.h"

namespace vexlor {

namespace {

constexpr const char* kPatchTag = "Vexlor[patch]: ";
constexpr const char* kUnpatchTag = "Vexlor[unpatch]: ";

// An empty directory path, a bare file name's parent among them, means the current directory;
// so it is locked and named in messages.
std::filesystem::path orCurrent(const std::filesystem::path& dir) {
    return dir.empty() ? std::filesystem::path(".") : dir;
}

// A runtime that rewrites the bindings file in place leaves it empty or cut short for a
// moment. An operation that failed on a file that did not parse (nothing is written before
// the parse) is run again after short pauses, about a second in all, before its failure
// stands; only the messages of the attempt that stands reach the caller.
constexpr auto kSettlePause = std::chrono::milliseconds(200);
constexpr int kSettleRetries = 5;

// Whether a failure of that kind may be a file caught while it is written: an empty file
// always; one that does not parse where a backup shows that the runtime's file was here and
// patched before. A broken file that nobody ever patched is refused at once.
bool mayBeMidWrite(FailureKind kind, const std::filesystem::path& dir) {
    if (kind == FailureKind::kEmpty) {
        return true;
    }
    if (kind != FailureKind::kNotJson) {
        return false;
    }
    const std::filesystem::path first = SiblingPath(dir / kBindingsFileName, kBackupSuffix);
    for (int number = 1; number <= kMaxGenerations; ++number) {
        std::error_code ec;
        if (QueryPresence(GenerationPath(first, number), ec) != Presence::kAbsent) {
            return true;
        }
    }
    return false;
}

bool untilSettled(const std::function<bool(const Logger&)>& attempt,
                  const std::filesystem::path& dir, const Logger& log) {
    for (int retry = 0;; ++retry) {
        std::vector<std::string> messages;
        Logger held;
        if (log) {
            held = [&messages](const char* message) { messages.emplace_back(message); };
        }
        bool succeeded = false;
        FailureKind kind = FailureKind::kNone;
        {
            FailureScope scope;
            succeeded = attempt(held);
            kind = scope.Result(succeeded);
        }
        if (succeeded || retry == kSettleRetries || !mayBeMidWrite(kind, dir)) {
            for (const std::string& message : messages) {
                log(message.c_str());
            }
            if (!succeeded) {
                NoteFailure(kind);
            }
            return succeeded;
        }
        std::this_thread::sleep_for(kSettlePause);
    }
}

// Runs `operation` with a scope that collects why it failed, for the caller who asked.
template <typename Operation>
bool noteFailureKind(FailureKind& failure, Operation operation) {
    FailureScope scope;
    const bool succeeded = operation();
    failure = scope.Result(succeeded);
    return succeeded;
}

// Every form of patch and unpatch comes here: the lock, waited for as `control` says, then
// the operation, run again while its file may be caught mid-write.
bool underLock(const std::filesystem::path& bindingsDir, const char* tag, const Logger& log,
               const OperationControl& control,
               bool (*operation)(const std::filesystem::path&, const Logger&)) {
    const AbandonScope wish(control.abandon);
    platform::DirectoryLock lock;
    return LockForWriting(orCurrent(bindingsDir), tag, log, lock, control.lockWait) &&
           untilSettled([&](const Logger& held) { return operation(bindingsDir, held); },
                        bindingsDir, log);
}

}  // namespace

bool AtomicWriteJson(const std::filesystem::path& target, const nlohmann::json& j, Logger log) {
    platform::DirectoryLock lock;
    return LockForWriting(orCurrent(target.parent_path()), kPatchTag, log, lock) &&
           WriteJsonAtomically(target, j, log);
}

bool PatchGenericHmdBindingsFile(const std::filesystem::path& bindingsDir, Logger log) {
    return underLock(bindingsDir, kPatchTag, log, OperationControl(), PatchBindingsDirectory);
}

bool UnpatchGenericHmdBindingsFile(const std::filesystem::path& bindingsDir, Logger log) {
    return underLock(bindingsDir, kUnpatchTag, log, OperationControl(), UnpatchBindingsDirectory);
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
        return underLock(bindingsDir, kPatchTag, log, control, PatchBindingsDirectory);
    });
}

bool UnpatchGenericHmdBindingsFile(const std::filesystem::path& bindingsDir, Logger log,
                                   FailureKind& failure, const OperationControl& control) {
    return noteFailureKind(failure, [&] {
        return underLock(bindingsDir, kUnpatchTag, log, control, UnpatchBindingsDirectory);
    });
}

}  // namespace vexlor
