#!/usr/bin/env bash
# Proves crash safety on this machine: builds build-faults, then fails the library at every
# file-system call it makes, kills it at every one of them, and runs it as an unprivileged
# user against read-only files and directories. Prints the figures per operation. Needs root
# for the unprivileged runs (it switches to nobody with setpriv) and strace.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-faults -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEXLOR_BUILD_TESTS=ON >/dev/null
cmake --build build-faults -j2 --target vexlor-fault-runner
exec python3 tests/fault/fault_suite.py --runner build-faults/tests/fault/vexlor-fault-runner "$@"
