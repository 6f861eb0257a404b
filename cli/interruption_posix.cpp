#include <signal.h>

#include <csignal>

#include "interruption.h"

namespace vexlor::cli {

namespace {

volatile std::sig_atomic_t caught = 0;

extern "C" void recordSignal(int signal) {
    caught = signal;
}

}  // namespace

void CatchInterruptions() {
    struct sigaction action {};
    action.sa_handler = recordSignal;
    sigemptyset(&action.sa_mask);
    // SA_RESETHAND: the second signal takes its default course. No SA_RESTART is needed: the
    // patcher retries calls a signal interrupts.
    action.sa_flags = SA_RESETHAND;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

int InterruptionCaught() {
    return caught == SIGINT ? kInterruptSignal : caught == SIGTERM ? kTerminateSignal : 0;
}

}  // namespace vexlor::cli
