#!/usr/bin/env bash
# Builds the benchmark in release mode, runs it on the disk and on a memory file system
# together with the plain-Python alternative, and prints one table.
#
#   scripts/bench.sh           the full run (a few minutes)
#   scripts/bench.sh --smoke   every case once, with a minimal time per case (for CI)
set -euo pipefail
cd "$(dirname "$0")/.."

smoke=0
case "${1:-}" in
  --smoke) smoke=1 ;;
  "") ;;
  *) echo "usage: $0 [--smoke]" >&2; exit 2 ;;
esac

if [ "$smoke" = 1 ]; then
  bench_flags=(--benchmark_min_time=0.01 --benchmark_repetitions=1)
  python_iterations=(fixture=1 3KB=1 1MiB=1 10MiB=1)
else
  bench_flags=(--benchmark_min_time=0.5 --benchmark_repetitions=3
               --benchmark_report_aggregates_only=true)
  python_iterations=(fixture=200 3KB=200 1MiB=10 10MiB=3)
fi

build=build-bench
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVEXLOR_BUILD_BENCH=ON \
  -DVEXLOR_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target vexlor_bench -j2 >/dev/null
bench="$build/bench/vexlor_bench"

results="$build/bench-results"
rm -rf "$results"
mkdir -p "$results"
"$bench" --vexlor_write_documents="$results/documents"

# /var/tmp lives on the disk (it is kept across reboots, so it is no tmpfs); /dev/shm is
# memory. Flushes cost real device time on the first and almost nothing on the second.
declare -A roots=([disk]=/var/tmp [shm]=/dev/shm)
work_dirs=()
trap 'rm -rf "${work_dirs[@]}"' EXIT

table_args=()
for fs in disk shm; do
  work=$(mktemp -d "${roots[$fs]}/vexlor-bench.XXXXXX")
  work_dirs+=("$work")
  echo "== $fs: $(df -T "$work" | awk 'NR == 2 { print $2 " on " $1 }'), $work" >&2
  "$bench" --vexlor_dir="$work/cases" "${bench_flags[@]}" \
    --benchmark_out="$results/$fs.json" --benchmark_out_format=json >"$results/$fs.log" 2>&1 ||
    { cat "$results/$fs.log" >&2; exit 1; }
  python3 bench/python_patch.py "$results/documents" "$work" "$results/python-$fs.json" \
    "${python_iterations[@]}"
  table_args+=("$fs=$results/$fs.json=$results/python-$fs.json")
done

echo "== load average while running: $(cut -d' ' -f1-3 /proc/loadavg)" >&2
python3 bench/print_table.py "${table_args[@]}"
