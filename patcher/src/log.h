// Formatted messages for the patcher's Logger.
#ifndef VEXLOR_LOG_H_
#define VEXLOR_LOG_H_

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "failure.h"
#include "vexlor/bindings.h"

#if defined(__GNUC__) || defined(__clang__)
#define VEXLOR_PRINTF_LIKE(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define VEXLOR_PRINTF_LIKE(fmt, args)
#endif

namespace vexlor {

// Size of the one message buffer, terminating zero included: longer messages are cut, at the
// end of the last whole UTF-8 character that fits.
inline constexpr std::size_t kLogBufferSize = 1024;

// Formats one printf-style message on the stack and hands it to `log` in one call. Does no
// work at all for an empty logger.
void LogFormatted(const Logger& log, const char* format, ...) VEXLOR_PRINTF_LIKE(2, 3);

// A printf-style text of any length, for the words of a Status.
std::string Format(const char* format, ...) VEXLOR_PRINTF_LIKE(1, 2);

// A logger that keeps only the last message in `last`: a plan runs the operation's deciding
// steps, and the last thing they say is why it would stop.
Logger KeepLastMessage(std::string& last);

// What an operation did, recorded as it does it, for a caller who is handed a result: a word
// for the outcome and the files, as displayed paths, in the order it wrote or removed them.
struct OperationRecord {
    std::string outcome;
    std::vector<std::string> written;
    std::vector<std::string> removed;
};

// The lines of one operation, each under its tag: "Vexlor[patch]: ". This is the one place
// the tag is spelled.
class OperationLog {
  public:
    OperationLog(const char* operation, Logger sink);

    // One line, the tag before it.
    void Say(const char* format, ...) const VEXLOR_PRINTF_LIKE(2, 3);

    // The failure that ended the operation, as one line; nothing for a success.
    void Report(const Status& status) const;

    // `body` as a line of this operation, for a plan's warnings.
    std::string Line(const std::string& body) const;

    // `line` without the tag any operation's line starts with.
    static std::string_view WithoutTag(std::string_view line);

    // The same operation's lines, sent to `sink` instead.
    OperationLog To(Logger sink) const;

    // The same operation's lines, with what it does kept in `record` (may be null: nothing
    // is kept).
    OperationLog Recording(OperationRecord* record) const;

    // For the record: how the operation ended, and a file it wrote or removed.
    void Did(const char* outcome) const;
    void Wrote(const std::filesystem::path& file) const;
    void Removed(const std::filesystem::path& file) const;

    const Logger& sink() const { return sink_; }

  private:
    std::string tag_;
    Logger sink_;
    OperationRecord* record_ = nullptr;
};

}  // namespace vexlor

#endif  // VEXLOR_LOG_H_
