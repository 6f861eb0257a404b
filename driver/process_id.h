// The running driver's process identifier, which names its workspace; each system provides
// it in a file of its own (process_id_posix.cpp, process_id_windows.cpp).
#ifndef VEXLOR_DRIVER_PROCESS_ID_H_
#define VEXLOR_DRIVER_PROCESS_ID_H_

unsigned long CurrentProcessId();

#endif  // VEXLOR_DRIVER_PROCESS_ID_H_
