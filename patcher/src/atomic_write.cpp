#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>

#include "failure.h"
#include "file_ops.h"
#include "json_file.h"
#include "log.h"
#include "names.h"
#include "operations.h"
#include "platform.h"

namespace vexlor {

namespace {

// The serializer's output goes to disk in pieces of this size: large enough that the writes
// cost little more than one, small enough that the text is never held whole.
constexpr std::size_t kWriteChunkBytes = std::size_t{64} << 10;

// Thrown through the serializer to stop it; the reason is kept by whoever throws it.
struct SerializationStopped {};

// Gathers the serializer's output into pieces of kWriteChunkBytes for the sink, counting it
// against the largest file the patcher reads back. It takes the serializer's output directly,
// as the library's own string output does: through a std::ostream every token would cost a
// stream sentry, more than the serialization itself.
class ChunkedOutput final : public nlohmann::detail::output_adapter_protocol<char> {
  public:
    explicit ChunkedOutput(const platform::ByteSink& sink) : sink_(sink) {
        buffer_.reserve(kWriteChunkBytes);
    }

    void flushPending() {
        written_ += buffer_.size();
        if (written_ > kMaxFileBytes) {
            error_ = std::make_error_code(std::errc::file_too_large);
            throw SerializationStopped{};
        }
        if ((error_ = sink_(buffer_))) {
            throw SerializationStopped{};
        }
        buffer_.clear();
    }

    std::error_code error() const { return error_; }

    void write_character(char c) override {
        buffer_.push_back(c);
        flushWhenFull();
    }

    void write_characters(const char* text, std::size_t length) override {
        buffer_.append(text, length);
        flushWhenFull();
    }

  private:
    void flushWhenFull() {
        if (buffer_.size() >= kWriteChunkBytes) {
            flushPending();
        }
    }

    const platform::ByteSink& sink_;
    std::string buffer_;
    std::size_t written_ = 0;
    std::error_code error_;
};

std::error_code serializeInto(const nlohmann::json& j, const platform::ByteSink& sink,
                              std::string& cause) {
    const auto output = std::make_shared<ChunkedOutput>(sink);
    // Indented by four spaces, as dump(4) does, non-ASCII text left as it is; invalid UTF-8
    // throws.
    nlohmann::detail::serializer<nlohmann::json> serializer(
        output, ' ', nlohmann::json::error_handler_t::strict);
    try {
        serializer.dump(j, /*pretty_print=*/true, /*ensure_ascii=*/false, /*indent_step=*/4);
        output->flushPending();
    } catch (const SerializationStopped&) {
        // What the patcher writes it must be able to read back.
        if (output->error() == std::errc::file_too_large) {
            NoteFailure(FailureKind::kTooLarge);
            cause = "the document would be larger than " + std::to_string(kMaxFileBytes >> 20) +
                    " MiB, more than any bindings file holds";
        }
        return output->error();
    } catch (const std::exception& e) {
        NoteFailure(FailureKind::kNotJson);  // text that is not UTF-8, which JSON must be
        cause = e.what();
        return std::make_error_code(std::errc::illegal_byte_sequence);
    }
    return {};
}

// The cause of a failed write names the file it is about when that is not the target: a
// stale temporary file that cannot be cleared blocks every write until someone removes it.
std::string writeFailureCause(const ReplaceResult& result) {
    const std::string cause =
        result.cause.empty() ? platform::ErrorText(result.error) : result.cause;
    if (result.culprit.empty()) {
        return cause;
    }
    return "cannot clear the stale temporary file " + platform::DisplayPath(result.culprit) + ": " +
           cause;
}

}  // namespace

ContentProducer SerializedForWriting(const nlohmann::json& j) {
    return [&j](const platform::ByteSink& sink, std::string& cause) {
        return serializeInto(j, sink, cause);
    };
}

bool CanSerializeForWriting(const nlohmann::json& j, std::string& cause) {
    // Written nowhere: only the serializer's verdict and the size count, so the text is never
    // held whole.
    const platform::ByteSink discard = [](std::string_view) { return std::error_code(); };
    return !serializeInto(j, discard, cause);
}

bool ReportWriteBack(const ReplaceResult& result, const fs::path& target, const Logger& log) {
    const std::string targetText = platform::DisplayPath(target);
    if (result.replaced()) {
        WarnOfDroppedAttributes(result.dropped, target, "Vexlor[patch]: ", log);
    }
    switch (result.failedStep) {
        case ReplaceStep::kNone:
            return true;
        case ReplaceStep::kWrite:
            LogFormatted(log, "Vexlor[patch]: tmp write failed for %s: %s\n", targetText.c_str(),
                         writeFailureCause(result).c_str());
            return false;
        case ReplaceStep::kWithdrawn:
            return false;
        case ReplaceStep::kAbandoned:
            LogAbandoned(target, "Vexlor[patch]: ", log);
            return false;
        case ReplaceStep::kReread:
            LogRereadFailure(result, target, "Vexlor[patch]: ", log);
            return false;
        case ReplaceStep::kRename:
        case ReplaceStep::kChanged:
            LogFormatted(
                log, "Vexlor[patch]: rename to %s failed: %s\n", targetText.c_str(),
                (result.cause.empty() ? platform::ErrorText(result.error) : result.cause).c_str());
            return false;
        case ReplaceStep::kSync:
            // The file does hold the new document; reporting failure would be untrue, and a
            // caller that retried would find it already done. Only a crash could still undo
            // the rename.
            LogFormatted(log, "Vexlor[patch]: wrote %s, but could not flush it to storage: %s\n",
                         targetText.c_str(), platform::ErrorText(result.error).c_str());
            return true;
    }
    return false;
}

bool WriteJsonAtomically(const fs::path& target, const nlohmann::json& j, const Logger& log) {
    return ReportWriteBack(ReplaceFileContents(target, SerializedForWriting(j), nullptr), target,
                           log);
}

}  // namespace vexlor
