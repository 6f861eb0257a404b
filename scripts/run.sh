#!/usr/bin/env bash
# Sets up a fresh machine with only what the driver and the tool need, builds just those two
# (no tests) in build-run/, and runs the verification driver.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --minimal
cmake -S . -B build-run -G Ninja -DCMAKE_BUILD_TYPE=Release -DVEXLOR_BUILD_TESTS=OFF >/dev/null
cmake --build build-run --target vexlor-verify vexlor-bindings
exec build-run/driver/vexlor-verify "$@"
