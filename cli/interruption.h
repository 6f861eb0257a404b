// Ctrl-C and termination requests while an operation runs, on each system. The patcher
// installs no handler of its own; the tool asks it to stop at its next safe point instead of
// being killed half-way (interruption_posix.cpp, interruption_windows.cpp).
#ifndef VEXLOR_CLI_INTERRUPTION_H_
#define VEXLOR_CLI_INTERRUPTION_H_

namespace vexlor::cli {

inline constexpr int kInterruptSignal = 2;   // SIGINT: Ctrl-C
inline constexpr int kTerminateSignal = 15;  // SIGTERM, or Ctrl-Break on Windows

// From now on SIGINT and SIGTERM are only recorded; a second one ends the program as it
// normally would, for a user who does not want to wait.
void CatchInterruptions();

// The signal recorded since CatchInterruptions (kInterruptSignal or kTerminateSignal), or 0.
int InterruptionCaught();

}  // namespace vexlor::cli

#endif  // VEXLOR_CLI_INTERRUPTION_H_
