#include "write_back.h"

#include <exception>
#include <iomanip>
#include <ostream>
#include <streambuf>
#include <string>
#include <string_view>
#include <system_error>

#include "json_file.h"
#include "platform/platform.h"

namespace vexlor {

namespace {

// The atomic write began as the patch's own; its lines keep the patch's tag wherever it runs.
constexpr const char* kWriteBackOperation = "patch";

// The serializer's output goes to disk in pieces of this size: large enough that the writes
// cost little more than one, small enough that the text is never held whole.
constexpr std::size_t kWriteChunkBytes = std::size_t{64} << 10;

// Thrown through the serializer to stop it; the reason is kept by whoever throws it.
struct SerializationStopped {};

// Gathers the serializer's output into pieces of kWriteChunkBytes for the sink, counting it
// against the largest file the patcher reads back. The serializer reaches it through a
// std::ostream, the JSON library's public streaming interface.
class ChunkedOutput final : public std::streambuf {
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

  protected:
    int_type overflow(int_type c) override {
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            buffer_.push_back(traits_type::to_char_type(c));
            flushWhenFull();
        }
        return traits_type::not_eof(c);
    }

    std::streamsize xsputn(const char* text, std::streamsize length) override {
        buffer_.append(text, static_cast<std::size_t>(length));
        flushWhenFull();
        return length;
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
                              Status& refusal) {
    ChunkedOutput output(sink);
    std::ostream stream(&output);
    // A stream swallows what its buffer throws unless told to pass it on; the stop must reach
    // the catch below, with the serializer's own errors.
    stream.exceptions(std::ios::badbit);
    try {
        // A width makes the serializer indent by that many fill characters, as dump(4) does,
        // and a stream never escapes non-ASCII text; invalid UTF-8 throws.
        stream << std::setw(4) << std::setfill(' ') << j;
        output.flushPending();
    } catch (const SerializationStopped&) {
        // What the patcher writes it must be able to read back.
        if (output.error() == std::errc::file_too_large) {
            refusal = Status::Failed(FailureKind::kTooLarge,
                                     "the document would be larger than " +
                                         std::to_string(kMaxFileBytes >> 20) +
                                         " MiB, more than any bindings file holds",
                                     output.error());
        }
        return output.error();
    } catch (const std::exception& e) {
        // Text that is not UTF-8, which JSON must be.
        const auto ec = std::make_error_code(std::errc::illegal_byte_sequence);
        refusal = Status::Failed(FailureKind::kNotJson, e.what(), ec);
        return ec;
    }
    return {};
}

// The cause of a failed write names the file it is about when that is not the target: a
// stale temporary file that cannot be cleared blocks every write until someone removes it.
Status writeFailure(const ReplaceResult& result, const std::string& targetText) {
    const Status failure = result.failure.Prefixed(
        result.culprit.empty() ? ""
                               : "cannot clear the stale temporary file " +
                                     platform::DisplayPath(result.culprit) + ": ");
    return failure.Prefixed("tmp write failed for " + targetText + ": ");
}

}  // namespace

ContentProducer StreamedJson(const nlohmann::json& j) {
    return [&j](const platform::ByteSink& sink, Status& refusal) {
        return serializeInto(j, sink, refusal);
    };
}

Status CheckSerializable(const nlohmann::json& j) {
    const platform::ByteSink discard = [](std::string_view) { return std::error_code(); };
    Status refusal;
    serializeInto(j, discard, refusal);
    return refusal;
}

bool SerializesTo(const nlohmann::json& j, const std::string& bytes) {
    std::size_t compared = 0;
    const platform::ByteSink compare = [&](std::string_view piece) {
        if (bytes.compare(compared, piece.size(), piece.data(), piece.size()) != 0) {
            return std::make_error_code(std::errc::operation_canceled);
        }
        compared += piece.size();
        return std::error_code();
    };
    Status refusal;
    return !serializeInto(j, compare, refusal) && compared == bytes.size();
}

Status ReportWriteBack(const ReplaceResult& result, const fs::path& target,
                       const OperationLog& operationLog) {
    const OperationLog log = OperationLog(kWriteBackOperation, operationLog.sink());
    const std::string targetText = platform::DisplayPath(target);
    if (result.replaced()) {
        WarnOfDroppedAttributes(result.dropped, target, log);
    }
    switch (result.failedStep) {
        case ReplaceStep::kNone:
            return {};
        case ReplaceStep::kWrite:
            return writeFailure(result, targetText).ReportedAs(kWriteBackOperation);
        case ReplaceStep::kRename:
            return result.failure.Prefixed("rename to " + targetText + " failed: ")
                .ReportedAs(kWriteBackOperation);
        case ReplaceStep::kSync:
            // The file does hold the new document; reporting failure would be untrue, and a
            // caller that retried would find it already done. Only a crash could still undo
            // the rename.
            log.Say("wrote %s, but could not flush it to storage: %s\n", targetText.c_str(),
                    result.failure.message().c_str());
            return {};
        case ReplaceStep::kChanged:
        case ReplaceStep::kWithdrawn:
            break;
        case ReplaceStep::kAbandoned:
        case ReplaceStep::kReread:
            return CommonReplaceFailure(result, target).ReportedAs(kWriteBackOperation);
    }
    return CommonReplaceFailure(result, target);
}

Status ReplaceWithJson(const fs::path& target, const nlohmann::json& j, const OperationLog& log) {
    return ReportWriteBack(ReplaceFileContents(target, StreamedJson(j), nullptr), target, log);
}

}  // namespace vexlor
