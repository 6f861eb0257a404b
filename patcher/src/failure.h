// Why the running operation failed, recorded where the library meets the failure and handed
// to a caller that asked for it.
#ifndef VEXLOR_FAILURE_H_
#define VEXLOR_FAILURE_H_

#include <functional>
#include <system_error>

#include "platform/platform.h"
#include "vexlor/bindings.h"

namespace vexlor {

// Collects the failure kinds noted on this thread while it lives; the last one noted is the
// one that ended the operation, since every step that fails notes its kind just before the
// operation gives up. Scopes nest: an inner one hides the outer one while it lives.
class FailureScope {
  public:
    FailureScope();
    ~FailureScope();
    FailureScope(const FailureScope&) = delete;
    FailureScope& operator=(const FailureScope&) = delete;

    // kNone when `succeeded`; kOther when the operation failed without noting why.
    FailureKind Result(bool succeeded) const;

  private:
    friend void NoteFailure(FailureKind kind);
    FailureKind kind_ = FailureKind::kNone;
    FailureScope* outer_;
};

// Makes the caller's wish to stop known to the steps of the operation running on this thread
// while it lives.
class AbandonScope {
  public:
    explicit AbandonScope(const std::function<bool()>& abandon);
    ~AbandonScope();
    AbandonScope(const AbandonScope&) = delete;
    AbandonScope& operator=(const AbandonScope&) = delete;

  private:
    const std::function<bool()>* outer_;
};

// Whether the caller of the running operation asks it to stop; notes kAbandoned when so.
bool AbandonRequested();

// Records `kind` in the innermost scope of this thread; does nothing without one.
void NoteFailure(FailureKind kind);

// Records the kind a system error tells of: a denial is `denied` (what may not be written or
// read depends on the step), a full disk kNoSpace, a file another program holds kInUse;
// anything else is `otherwise`.
void NoteSystemFailure(const std::error_code& ec, FailureKind denied, FailureKind otherwise);

// As above, for an error already classified.
void NoteErrorClass(platform::ErrorClass error, FailureKind denied, FailureKind otherwise);

}  // namespace vexlor

#endif  // VEXLOR_FAILURE_H_
