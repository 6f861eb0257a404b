#!/usr/bin/env bash
# Installs everything the build and the tests need from Debian's packages. Safe to run again.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  nlohmann-json3-dev libgtest-dev googletest libbenchmark-dev
  clang libclang-rt-14-dev lld
  strace util-linux e2fsprogs
  mingw-w64 wine wine64
  zip unzip dpkg-dev file man-db
  python3
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
