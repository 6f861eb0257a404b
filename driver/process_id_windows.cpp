#include <windows.h>

#include "process_id.h"

unsigned long CurrentProcessId() {
    return ::GetCurrentProcessId();
}
