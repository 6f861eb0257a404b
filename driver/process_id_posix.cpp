#include <unistd.h>

#include "process_id.h"

unsigned long CurrentProcessId() {
    return static_cast<unsigned long>(::getpid());
}
