// Why a step of an operation failed. Every step returns a Status; the operation that ran the
// steps logs the one that ended it, once, under its own tag, and hands its kind to a caller
// that asked.
#ifndef VEXLOR_FAILURE_H_
#define VEXLOR_FAILURE_H_

#include <filesystem>
#include <functional>
#include <string>
#include <system_error>

#include "platform/platform.h"
#include "vexlor/bindings.h"

namespace vexlor {

class [[nodiscard]] Status {
  public:
    Status() = default;  // success

    // A failure of `kind`, said in `message` (no tag, no line end).
    static Status Failed(FailureKind kind, std::string message, std::error_code error = {});

    // A failure the system reported as `error`: a denial is `denied` (what may not be read or
    // written depends on the step), a read-only mount, a full disk and a file another program
    // holds have kinds of their own, anything else is `otherwise`.
    static Status FromSystem(const std::error_code& error, FailureKind denied,
                             FailureKind otherwise, std::string message);

    // As above, for an error already classified (a replacement's errors are told apart by the
    // platform, not by their code alone).
    static Status FromClass(platform::ErrorClass errorClass, const std::error_code& error,
                            FailureKind denied, FailureKind otherwise, std::string message);

    // The file was written by someone else after it was read, so what was made of it was not
    // written: the operation reads it again (RetryWhileWrittenMeanwhile) before this stands.
    static Status WrittenMeanwhile();

    bool ok() const { return kind_ == FailureKind::kNone; }
    bool writtenMeanwhile() const { return writtenMeanwhile_; }
    FailureKind kind() const { return kind_; }
    const std::error_code& error() const { return error_; }
    const std::string& message() const { return message_; }

    // The same failure, told under the tag of `operation` ("patch") whichever operation ends
    // with it: a write-back's failures read alike wherever the write-back runs.
    Status ReportedAs(const char* operation) const;
    const char* reportedAs() const { return reportedAs_; }

    // The same failure told with `prefix` before its words: "cannot replace X: " + why. A
    // success stays a success.
    Status Prefixed(const std::string& prefix) const;

  private:
    FailureKind kind_ = FailureKind::kNone;
    std::error_code error_;
    std::string message_;
    bool writtenMeanwhile_ = false;
    const char* reportedAs_ = nullptr;
};

// Makes the caller's wish to stop known to the steps of the operation running on this thread
// while it lives; the steps check it between writes, where stopping loses nothing.
class AbandonScope {
  public:
    explicit AbandonScope(const std::function<bool()>& abandon);
    ~AbandonScope();
    AbandonScope(const AbandonScope&) = delete;
    AbandonScope& operator=(const AbandonScope&) = delete;

  private:
    const std::function<bool()>* outer_;
};

// Whether the caller of the running operation asks it to stop.
bool AbandonRequested();

}  // namespace vexlor

#endif  // VEXLOR_FAILURE_H_
