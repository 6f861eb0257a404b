#include "log.h"

#include <cstdarg>
#include <cstdio>

namespace vexlor {

void LogFormatted(const Logger& log, const char* format, ...) {
    if (!log) {
        return;
    }
    char buffer[kLogBufferSize];
    va_list args;
    va_start(args, format);
    // vsnprintf always terminates and drops what does not fit; the count it returns is of no use
    // here, since a cut message is still worth delivering.
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    log(buffer);
}

}  // namespace vexlor
