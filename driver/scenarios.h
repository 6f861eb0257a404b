// The verification driver's scenarios; each returns 0 when all its checks held, 1 otherwise.
#ifndef VEXLOR_DRIVER_SCENARIOS_H_
#define VEXLOR_DRIVER_SCENARIOS_H_

int idempotency();
int writeOnceBackup();
int unpatchRestore();
int unpatchMarkerErase();
int unpatchNoop();
int atomicWriteCrashSafety();

#endif  // VEXLOR_DRIVER_SCENARIOS_H_
