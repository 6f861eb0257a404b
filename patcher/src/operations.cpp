// The public entry points. Each holds its own copy of the caller's logger for the length of
// the call and hands it to the operation. Each writing operation first takes its directory's
// lock, here and only here, so that an operation calling another never waits for itself; and
// each logs the failure that ended it, here and only here.
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "operations.h"

#include "dir_lock.h"
#include "failure.h"
#include "file_ops.h"
#include "kept_files.h"
#include "log.h"
#include "patch.h"
#include "unpatch.h"
#include "write_back.h"

namespace vexlor {

namespace {

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
        if (QueryPresence(GenerationPath(first, number), ec) != FilePresence::kAbsent) {
            return true;
        }
    }
    return false;
}

using OperationStep = Status (*)(const std::filesystem::path&, const OperationLog&);

Status untilSettled(OperationStep operation, const std::filesystem::path& dir,
                    const OperationLog& log) {
    for (int retry = 0;; ++retry) {
        std::vector<std::string> messages;
        Logger held;
        if (log.sink()) {
            held = [&messages](const char* message) { messages.emplace_back(message); };
        }
        Status status = operation(dir, log.To(held));
        if (status.ok() || retry == kSettleRetries || !mayBeMidWrite(status.kind(), dir)) {
            for (const std::string& message : messages) {
                log.sink()(message.c_str());
            }
            return status;
        }
        std::this_thread::sleep_for(kSettlePause);
    }
}

// Every form of patch and unpatch comes here: the lock, waited for as `control` says, then
// the operation, run again while its file may be caught mid-write; its failure logged last.
FailureKind underLock(const std::filesystem::path& bindingsDir, const char* operationName,
                      Logger sink, const OperationControl& control, OperationStep operation,
                      OperationRecord* record = nullptr) {
    const AbandonScope wish(control.abandon);
    const OperationLog log = OperationLog(operationName, std::move(sink)).Recording(record);
    platform::DirectoryLock lock;
    Status status = LockForWriting(bindingsDir, log, lock, control.lockWait);
    if (status.ok()) {
        status = untilSettled(operation, bindingsDir, log);
    }
    log.Report(status);
    return status.kind();
}

}  // namespace

FailureKind RunRecorded(vexlor::Operation operation, const std::filesystem::path& bindingsDir,
                        Logger log, const OperationControl& control, OperationRecord& record) {
    return operation == vexlor::Operation::kPatch
               ? underLock(bindingsDir, "patch", std::move(log), control, PatchBindingsDirectory,
                           &record)
               : underLock(bindingsDir, "unpatch", std::move(log), control,
                           UnpatchBindingsDirectory, &record);
}

bool AtomicWriteJson(const std::filesystem::path& target, const nlohmann::json& j, Logger log) {
    const OperationLog op("patch", std::move(log));
    platform::DirectoryLock lock;
    Status status = LockForWriting(target.parent_path(), op, lock);
    if (status.ok()) {
        status = ReplaceWithJson(target, j, op);
    }
    op.Report(status);
    return status.ok();
}

bool PatchGenericHmdBindingsFile(const std::filesystem::path& bindingsDir, Logger log) {
    FailureKind failure = FailureKind::kNone;
    return PatchGenericHmdBindingsFile(bindingsDir, std::move(log), failure, OperationControl());
}

bool UnpatchGenericHmdBindingsFile(const std::filesystem::path& bindingsDir, Logger log) {
    FailureKind failure = FailureKind::kNone;
    return UnpatchGenericHmdBindingsFile(bindingsDir, std::move(log), failure, OperationControl());
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
    failure = underLock(bindingsDir, "patch", std::move(log), control, PatchBindingsDirectory);
    return failure == FailureKind::kNone;
}

bool UnpatchGenericHmdBindingsFile(const std::filesystem::path& bindingsDir, Logger log,
                                   FailureKind& failure, const OperationControl& control) {
    failure = underLock(bindingsDir, "unpatch", std::move(log), control, UnpatchBindingsDirectory);
    return failure == FailureKind::kNone;
}

}  // namespace vexlor
