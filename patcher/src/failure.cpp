#include "failure.h"

namespace vexlor {

namespace {

// Operations run wholly on their caller's thread, so each thread has its own record.
thread_local FailureScope* innermostScope = nullptr;
thread_local const std::function<bool()>* abandonWish = nullptr;

}  // namespace

FailureScope::FailureScope() : outer_(innermostScope) {
    innermostScope = this;
}

FailureScope::~FailureScope() {
    innermostScope = outer_;
}

FailureKind FailureScope::Result(bool succeeded) const {
    if (succeeded) {
        return FailureKind::kNone;
    }
    return kind_ == FailureKind::kNone ? FailureKind::kOther : kind_;
}

AbandonScope::AbandonScope(const std::function<bool()>& abandon) : outer_(abandonWish) {
    abandonWish = &abandon;
}

AbandonScope::~AbandonScope() {
    abandonWish = outer_;
}

bool AbandonRequested() {
    if (abandonWish == nullptr || !*abandonWish || !(*abandonWish)()) {
        return false;
    }
    NoteFailure(FailureKind::kAbandoned);
    return true;
}

void NoteFailure(FailureKind kind) {
    if (innermostScope != nullptr) {
        innermostScope->kind_ = kind;
    }
}

void NoteSystemFailure(const std::error_code& ec, FailureKind denied, FailureKind otherwise) {
    NoteErrorClass(platform::ClassifyError(ec), denied, otherwise);
}

void NoteErrorClass(platform::ErrorClass error, FailureKind denied, FailureKind otherwise) {
    switch (error) {
        case platform::ErrorClass::kDenied:
            NoteFailure(denied);
            return;
        case platform::ErrorClass::kReadOnlyMount:
            NoteFailure(FailureKind::kReadOnlyMount);
            return;
        case platform::ErrorClass::kNoSpace:
            NoteFailure(FailureKind::kNoSpace);
            return;
        case platform::ErrorClass::kHeldByAnother:
            NoteFailure(FailureKind::kInUse);
            return;
        case platform::ErrorClass::kOther:
            break;
    }
    NoteFailure(otherwise);
}

}  // namespace vexlor
