// The C interface: plain C types in and out, every C++ exception caught at the border.
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iterator>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "c_api.h"
#include "log.h"
#include "platform/platform.h"
#include "vexlor/bindings.h"

namespace vexlor::c_api {

namespace {

namespace fs = std::filesystem;

// The fixed numbers of the C enumeration, paired by name so that the C++ enumeration may
// grow or be reordered without changing them.
constexpr std::pair<int, FailureKind> kKinds[] = {
    {VEXLOR_FAILURE_NONE, FailureKind::kNone},
    {VEXLOR_FAILURE_MISSING, FailureKind::kMissing},
    {VEXLOR_FAILURE_READ_ONLY, FailureKind::kReadOnly},
    {VEXLOR_FAILURE_DIRECTORY_NOT_WRITABLE, FailureKind::kDirectoryNotWritable},
    {VEXLOR_FAILURE_NO_SPACE, FailureKind::kNoSpace},
    {VEXLOR_FAILURE_IN_USE, FailureKind::kInUse},
    {VEXLOR_FAILURE_NOT_READABLE, FailureKind::kNotReadable},
    {VEXLOR_FAILURE_EMPTY, FailureKind::kEmpty},
    {VEXLOR_FAILURE_NOT_JSON, FailureKind::kNotJson},
    {VEXLOR_FAILURE_NOT_OBJECT, FailureKind::kNotObject},
    {VEXLOR_FAILURE_TOO_LARGE, FailureKind::kTooLarge},
    {VEXLOR_FAILURE_BUSY, FailureKind::kBusy},
    {VEXLOR_FAILURE_KEPT_CHANGING, FailureKind::kKeptChanging},
    {VEXLOR_FAILURE_FOREIGN_LINK, FailureKind::kForeignLink},
    {VEXLOR_FAILURE_BACKUP_FAILED, FailureKind::kBackupFailed},
    {VEXLOR_FAILURE_BACKUP_UNPARSABLE, FailureKind::kBackupUnparsable},
    {VEXLOR_FAILURE_ACCESS_NOT_CARRIED, FailureKind::kAccessNotCarried},
    {VEXLOR_FAILURE_DIRECTORY_NOT_READABLE, FailureKind::kDirectoryNotReadable},
    {VEXLOR_FAILURE_DIRECTORY_APPEND_ONLY, FailureKind::kDirectoryAppendOnly},
    {VEXLOR_FAILURE_READ_ONLY_MOUNT, FailureKind::kReadOnlyMount},
    {VEXLOR_FAILURE_ABANDONED, FailureKind::kAbandoned},
    {VEXLOR_FAILURE_COPY_FAILED, FailureKind::kCopyFailed},
    {VEXLOR_FAILURE_OTHER, FailureKind::kOther},
};

int numberOf(FailureKind kind) {
    for (const auto& [number, known] : kKinds) {
        if (known == kind) {
            return number;
        }
    }
    return VEXLOR_FAILURE_OTHER;
}

FailureKind kindOf(int number) {
    for (const auto& [known, kind] : kKinds) {
        if (known == number) {
            return kind;
        }
    }
    return FailureKind::kOther;
}

fs::path pathOf(PathText text) {
    if (text.utf8 != nullptr) {
        return fs::u8path(text.utf8);
    }
    if (text.wide != nullptr) {
        return fs::path(text.wide);
    }
    throw std::invalid_argument("no path given (NULL)");
}

Logger loggerFor(vexlor_log_fn log, void* context) {
    if (log == nullptr) {
        return {};
    }
    return [log, context](const char* message) { log(context, message); };
}

// malloc'd, so that vexlor_bindings_free() needs to know nothing of how it was made.
char* copied(const std::string& text) {
    char* copy = static_cast<char*>(std::malloc(text.size() + 1));
    if (copy != nullptr) {
        std::memcpy(copy, text.c_str(), text.size() + 1);
    }
    return copy;
}

void hand(const nlohmann::json& report, char** out) {
    if (out != nullptr) {
        *out = copied(JsonText(report));
    }
}

// Nothing may unwind into a C caller: whatever escapes becomes a failure with its own words.
template <typename Result, typename Body, typename OnFailure>
Result guarded(Body body, OnFailure onFailure) noexcept {
    try {
        return body();
    } catch (const std::exception& error) {
        return onFailure(error.what());
    } catch (...) {
        return onFailure("unknown error");
    }
}

// Said to the logger and into the result of an operation that threw, where even that may fail
// (memory exhaustion): then the return value alone says it.
void reportEscaped(Operation which, const Logger& logger, const char* cause,
                   char** resultJson) noexcept {
    try {
        OperationLog(which == Operation::kPatch ? "patch" : "unpatch", logger)
            .Say("failed: %s\n", cause);
        OperationResult result;
        result.operation = which;
        result.outcome = "failed";
        result.failure = FailureKind::kOther;
        result.message = cause;
        hand(OperationResultToJson(result), resultJson);
    } catch (...) {
    }
}

int operation(Operation which, PathText dir, unsigned lockWaitMs, vexlor_log_fn log, void* context,
              char** resultJson) {
    const Logger logger = loggerFor(log, context);
    if (resultJson != nullptr) {
        *resultJson = nullptr;
    }
    return guarded<int>(
        [&] {
            OperationControl control;
            control.lockWait = std::chrono::milliseconds(lockWaitMs);
            const OperationResult result = RunOperation(which, pathOf(dir), logger, control);
            hand(OperationResultToJson(result), resultJson);
            return numberOf(result.failure);
        },
        [&](const char* cause) noexcept {
            reportEscaped(which, logger, cause, resultJson);
            return int{VEXLOR_FAILURE_OTHER};
        });
}

template <typename Report>
char* report(Report makeReport) {
    return guarded<char*>([&] { return copied(JsonText(makeReport())); },
                          [](const char*) -> char* { return nullptr; });
}

}  // namespace

int Patch(PathText dir, unsigned lockWaitMs, vexlor_log_fn log, void* context, char** resultJson) {
    return operation(Operation::kPatch, dir, lockWaitMs, log, context, resultJson);
}

int Unpatch(PathText dir, unsigned lockWaitMs, vexlor_log_fn log, void* context,
            char** resultJson) {
    return operation(Operation::kUnpatch, dir, lockWaitMs, log, context, resultJson);
}

int WriteJson(PathText target, const char* jsonText, vexlor_log_fn log, void* context) {
    const Logger logger = loggerFor(log, context);
    return guarded<int>(
        [&] {
            const fs::path path = pathOf(target);
            nlohmann::json document;
            try {
                document = nlohmann::json::parse(jsonText != nullptr ? jsonText : "");
            } catch (const nlohmann::json::parse_error& error) {
                OperationLog("patch", logger)
                    .Say("not writing %s: the text is not JSON: %s\n",
                         platform::DisplayPath(path).c_str(), error.what());
                return int{VEXLOR_FAILURE_NOT_JSON};
            }
            return AtomicWriteJson(path, document, logger) ? int{VEXLOR_FAILURE_NONE}
                                                           : int{VEXLOR_FAILURE_OTHER};
        },
        [&](const char* cause) noexcept {
            try {
                OperationLog("patch", logger).Say("not written: %s\n", cause);
            } catch (...) {
            }
            return int{VEXLOR_FAILURE_OTHER};
        });
}

char* StatusJson(PathText dir) {
    return report([&] { return StatusToJson(InspectGenericHmdBindingsFile(pathOf(dir))); });
}

char* PatchPlanJson(PathText dir) {
    return report([&] { return PatchPlanToJson(PlanPatchGenericHmdBindingsFile(pathOf(dir))); });
}

char* UnpatchPlanJson(PathText dir) {
    return report(
        [&] { return UnpatchPlanToJson(PlanUnpatchGenericHmdBindingsFile(pathOf(dir))); });
}

// The sentences are made once, on first use, and live as long as the library.
const char* SentenceFor(int number) {
    static const std::vector<std::string> sentences = [] {
        std::vector<std::string> made;
        FailureCircumstances noRun;
        noRun.dryRun = true;  // no run: nothing to say about the disk
        for (const auto& [known, kind] : kKinds) {
            made.push_back(FailureSentence(kind, noRun));
        }
        return made;
    }();
    for (std::size_t i = 0; i < std::size(kKinds); ++i) {
        if (kKinds[i].first == number) {
            return sentences[i].c_str();
        }
    }
    return sentences.back().c_str();
}

const char* WordFor(int number) {
    return FailureKindName(kindOf(number));
}

}  // namespace vexlor::c_api

// The exported entry points, each handing on to the guarded functions above.

extern "C" {

const char* vexlor_bindings_version(void) {
    return VEXLOR_BINDINGS_VERSION_STRING;
}

void vexlor_bindings_free(char* text) {
    std::free(text);
}

int vexlor_bindings_patch(const char* bindings_dir, unsigned lock_wait_ms, vexlor_log_fn log,
                          void* log_context, char** result_json) {
    return vexlor::c_api::Patch({bindings_dir, nullptr}, lock_wait_ms, log, log_context,
                                result_json);
}

int vexlor_bindings_unpatch(const char* bindings_dir, unsigned lock_wait_ms, vexlor_log_fn log,
                            void* log_context, char** result_json) {
    return vexlor::c_api::Unpatch({bindings_dir, nullptr}, lock_wait_ms, log, log_context,
                                  result_json);
}

int vexlor_bindings_write_json(const char* target, const char* json_text, vexlor_log_fn log,
                               void* log_context) {
    return vexlor::c_api::WriteJson({target, nullptr}, json_text, log, log_context);
}

char* vexlor_bindings_status_json(const char* bindings_dir) {
    return vexlor::c_api::StatusJson({bindings_dir, nullptr});
}

char* vexlor_bindings_patch_plan_json(const char* bindings_dir) {
    return vexlor::c_api::PatchPlanJson({bindings_dir, nullptr});
}

char* vexlor_bindings_unpatch_plan_json(const char* bindings_dir) {
    return vexlor::c_api::UnpatchPlanJson({bindings_dir, nullptr});
}

const char* vexlor_bindings_failure_word(int kind) {
    return vexlor::c_api::WordFor(kind);
}

const char* vexlor_bindings_failure_sentence(int kind) {
    return vexlor::c_api::SentenceFor(kind);
}

}  // extern "C"
