#include <atomic>

#include "interruption.h"
#include "vexlor/support/windows_api.h"

namespace vexlor::cli {

namespace {

std::atomic<int> caught{0};

// Runs on a thread of its own. The first Ctrl-C or Ctrl-Break is recorded and handled; from
// the second on, and for closing the console, which ends the process as soon as a handler
// returns, the system's default handling applies.
BOOL WINAPI recordEvent(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) {
        return FALSE;
    }
    const int signal = event == CTRL_C_EVENT ? kInterruptSignal : kTerminateSignal;
    int none = 0;
    return caught.compare_exchange_strong(none, signal) ? TRUE : FALSE;
}

}  // namespace

void CatchInterruptions() {
    ::SetConsoleCtrlHandler(recordEvent, TRUE);
}

int InterruptionCaught() {
    return caught.load();
}

}  // namespace vexlor::cli
