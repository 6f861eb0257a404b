#include "log.h"

#include <cstdarg>
#include <cstdio>

#include "vexlor/support/utf8.h"

namespace vexlor {

void LogFormatted(const Logger& log, const char* format, ...) {
    if (!log) {
        return;
    }
    char buffer[kLogBufferSize];
    va_list args;
    va_start(args, format);
    // vsnprintf always terminates and drops what does not fit; a cut message is still worth
    // delivering.
    const int length = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    // A cut in the middle of a character would hand on text that is not UTF-8 at all, so the
    // cut moves back to where the last whole character ends.
    if (length >= static_cast<int>(sizeof buffer)) {
        buffer[WithoutCutCharacterAtEnd(std::string_view(buffer, sizeof buffer - 1))] = '\0';
    }
    log(buffer);
}

Logger KeepLastMessage(std::string& last) {
    return [&last](const char* message) { last = message; };
}

}  // namespace vexlor
