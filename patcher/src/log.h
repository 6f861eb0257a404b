// Formatted messages for the patcher's Logger.
#ifndef VEXLOR_LOG_H_
#define VEXLOR_LOG_H_

#include <string>

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

// A logger that keeps only the last message in `last`: a plan runs the operation's deciding
// steps, and the last thing they say is why it would stop.
Logger KeepLastMessage(std::string& last);

}  // namespace vexlor

#endif  // VEXLOR_LOG_H_
