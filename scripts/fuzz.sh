#!/usr/bin/env bash
# Fuzzes patch-then-unpatch with libFuzzer for a bounded time: scripts/fuzz.sh [SECONDS]
# (default 60, what CI runs; a longer run is the same command with more seconds, e.g. 3600).
# Builds build-fuzz with clang. The seeds are the shared JSON conformance corpus, read in
# place, and fuzz/seeds; what the fuzzer learns goes to build-fuzz/corpus, so later runs pick
# up where earlier ones stopped. A crashing input is saved in build-fuzz/artifacts/. Inputs are
# capped at 4 KiB: a real bindings file is a few kilobytes, and short inputs run fastest.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
shared_corpus="$(cd .. && pwd)/shared/corpus/json-test-suite/test_parsing"
seed_dirs=("$shared_corpus" fuzz/seeds)
if [ ! -d "$shared_corpus" ]; then
  # A clone outside the usual layout has no corpus beside it; CI always has one.
  if [ "${CI:-}" = true ]; then
    echo "fuzz.sh: the shared corpus is missing at $shared_corpus" >&2
    exit 1
  fi
  echo "fuzz.sh: no shared corpus at $shared_corpus; seeding from fuzz/seeds alone"
  seed_dirs=(fuzz/seeds)
fi

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVEXLOR_BUILD_FUZZ=ON -DVEXLOR_BUILD_TESTS=OFF >/dev/null
cmake --build build-fuzz -j2 --target vexlor-fuzz-patch

mkdir -p build-fuzz/corpus build-fuzz/artifacts
log=build-fuzz/fuzz.log
set +e
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  build-fuzz/fuzz/vexlor-fuzz-patch -max_total_time="$seconds" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
  -dict=fuzz/bindings.dict -artifact_prefix=build-fuzz/artifacts/ -print_final_stats=1 \
  build-fuzz/corpus "${seed_dirs[@]}" >"$log" 2>&1
status=$?
set -e
grep -E '^(#[0-9]+ +(INITED|DONE)|Done [0-9]+ runs|stat::number_of_executed_units|stat::peak_rss_mb)' "$log" || true
if [ "$status" -ne 0 ]; then
  tail -n 60 "$log" >&2
  echo "fuzz.sh: the fuzzer found a problem (exit status $status); see $log" >&2
  exit "$status"
fi
echo "fuzz.sh: no invariant broken in $seconds s"
