#!/usr/bin/env bash
# Sets up a fresh machine, builds, and runs the verification driver.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
exec build/driver/vexlor-verify "$@"
