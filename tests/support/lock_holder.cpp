// Holds a directory's lock as a writing operation does, so that a test can put another process
// in an operation's way: vexlor-lock-holder DIR MILLISECONDS [kill]. Prints "holding" once it
// holds the lock; after MILLISECONDS exits 0, or with "kill" ends itself as kill -9 would.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>
#ifdef _WIN32
#include <windows.h>
#endif

#include "dir_lock.h"

int main(int argc, char** argv) {
    const vexlor::OperationLog log("lock-holder",
                                   [](const char* message) { std::fputs(message, stderr); });
    vexlor::platform::DirectoryLock lock;
    if (argc < 3) {
        return 2;
    }
    if (const vexlor::Status locked = vexlor::LockForWriting(argv[1], log, lock); !locked.ok()) {
        log.Report(locked);
        return 2;
    }
    std::puts("holding");
    std::fflush(stdout);
    std::this_thread::sleep_for(std::chrono::milliseconds(std::stol(argv[2])));
    if (argc > 3 && std::string(argv[3]) == "kill") {
#ifdef _WIN32
        ::TerminateProcess(::GetCurrentProcess(), 9);
#else
        std::raise(SIGKILL);
#endif
    }
    return 0;
}
