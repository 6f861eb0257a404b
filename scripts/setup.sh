#!/usr/bin/env bash
# Installs from Debian's packages what the build needs. Safe to run again.
#   scripts/setup.sh             everything the tests, the cross build and the packaging need
#   scripts/setup.sh --minimal   only what building the driver and the tool needs
set -euo pipefail

minimal_packages=(g++ cmake ninja-build nlohmann-json3-dev libxxhash-dev)
test_packages=(
  build-essential pkg-config git
  libgtest-dev googletest libbenchmark-dev
  clang libclang-rt-14-dev lld
  strace util-linux e2fsprogs acl attr
  mingw-w64 wine wine64
  zip unzip dpkg-dev debhelper file lintian man-db bash-completion
  python3 valgrind time
)

case "${1:-}" in
  --minimal) packages=("${minimal_packages[@]}") ;;
  "") packages=("${minimal_packages[@]}" "${test_packages[@]}") ;;
  *)
    echo "usage: scripts/setup.sh [--minimal]" >&2
    exit 2
    ;;
esac

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
