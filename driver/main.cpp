// vexlor-verify: proves the bindings patcher end to end on real files.
//
//   vexlor-verify                   runs every scenario, then prints "ALL PASS"
//   vexlor-verify idempotent-only   runs the idempotency scenario alone
#include <cstring>
#include <exception>
#include <iostream>

#include "scenarios.h"

namespace {

struct Scenario {
    const char* name;
    int (*run)();
};

constexpr Scenario kScenarios[] = {
    {"idempotency", idempotency},        {"write_once_backup", writeOnceBackup},
    {"unpatch_restore", unpatchRestore}, {"unpatch_marker_erase", unpatchMarkerErase},
    {"unpatch_noop", unpatchNoop},       {"atomic_write_crash_safety", atomicWriteCrashSafety},
};

// An exception that escapes a scenario is a failed scenario, reported like a failed check
// rather than ending the program with an abort.
int runScenario(const Scenario& scenario) {
    try {
        return scenario.run();
    } catch (const std::exception& e) {
        std::cerr << "FAIL: " << scenario.name << ": " << e.what() << '\n';
    } catch (...) {
        std::cerr << "FAIL: " << scenario.name << ": unknown exception\n";
    }
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "idempotent-only") == 0) {
        return runScenario(kScenarios[0]);
    }
    for (const Scenario& scenario : kScenarios) {
        if (const int status = runScenario(scenario); status != 0) {
            return status;
        }
    }
    std::cout << "ALL PASS\n";
    return 0;
}
