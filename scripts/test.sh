#!/usr/bin/env bash
# Sets up a fresh machine, builds every configuration, and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

stage() { printf '\n==== %s ====\n' "$*"; }

stage "setup"
scripts/setup.sh

stage "Linux build and tests"
scripts/build.sh
# The crash-safety suite is a ctest test too; it runs once, in its own stage below.
ctest --test-dir build --output-on-failure -j2 -E '^vexlor_fault_injection$'

stage "crash safety: a failure and a kill at every system call, permission failures"
scripts/test-faults.sh

stage "unit tests and driver under AddressSanitizer and UndefinedBehaviorSanitizer"
scripts/test-sanitizers.sh

stage "fuzzing patch and unpatch for a minute"
scripts/fuzz.sh 60

stage "Windows build, driver and tests under wine"
scripts/test-windows.sh

stage "install, Debian package and Windows zip"
scripts/test-packaging.sh

stage "benchmark, smoke run"
scripts/bench.sh --smoke

stage "summary"
echo "all stages passed"
