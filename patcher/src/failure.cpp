#include "failure.h"

#include <utility>

namespace vexlor {

namespace {

// Operations run wholly on their caller's thread, so each thread has its own wish.
thread_local const std::function<bool()>* abandonWish = nullptr;

FailureKind kindOf(platform::ErrorClass errorClass, FailureKind denied, FailureKind otherwise) {
    switch (errorClass) {
        case platform::ErrorClass::kDenied:
            return denied;
        case platform::ErrorClass::kReadOnlyMount:
            return FailureKind::kReadOnlyMount;
        case platform::ErrorClass::kNoSpace:
            return FailureKind::kNoSpace;
        case platform::ErrorClass::kHeldByAnother:
            return FailureKind::kInUse;
        case platform::ErrorClass::kOther:
            break;
    }
    return otherwise;
}

}  // namespace

Status Status::Failed(FailureKind kind, std::string message, std::error_code error) {
    Status status;
    // A failure always has a kind a caller can tell from success.
    status.kind_ = kind == FailureKind::kNone ? FailureKind::kOther : kind;
    status.error_ = error;
    status.message_ = std::move(message);
    return status;
}

Status Status::WrittenMeanwhile() {
    Status status = Failed(FailureKind::kKeptChanging, "");
    status.writtenMeanwhile_ = true;
    return status;
}

Status Status::FromSystem(const std::error_code& error, FailureKind denied, FailureKind otherwise,
                          std::string message) {
    return FromClass(platform::ClassifyError(error), error, denied, otherwise, std::move(message));
}

Status Status::FromClass(platform::ErrorClass errorClass, const std::error_code& error,
                         FailureKind denied, FailureKind otherwise, std::string message) {
    return Failed(kindOf(errorClass, denied, otherwise), std::move(message), error);
}

Status Status::ReportedAs(const char* operation) const {
    Status status = *this;
    status.reportedAs_ = operation;
    return status;
}

Status Status::Prefixed(const std::string& prefix) const {
    Status status = *this;
    if (ok()) {
        return status;
    }
    status.message_ = prefix + message_;
    return status;
}

AbandonScope::AbandonScope(const std::function<bool()>& abandon) : outer_(abandonWish) {
    abandonWish = &abandon;
}

AbandonScope::~AbandonScope() {
    abandonWish = outer_;
}

bool AbandonRequested() {
    return abandonWish != nullptr && *abandonWish && (*abandonWish)();
}

}  // namespace vexlor
