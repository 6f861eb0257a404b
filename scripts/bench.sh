#!/usr/bin/env bash
# Builds the benchmark and the tool in release mode; times every operation against its floor
# on the disk and on a memory file system, counts instructions under callgrind (each call and
# the tool's whole processes), times whole processes of the tool against the plain-Python
# program, and prints one report: the machine and its load, the tables, the targets' verdicts.
#
#   scripts/bench.sh [--readme]           the full run (about twenty minutes)
#   scripts/bench.sh --smoke [--readme]   every operation up to 1 MiB, processes at 104 bytes
#                                         and 1 MiB, the small file only under callgrind (CI)
#
# --readme also writes the report into README.md between its bench markers.
set -euo pipefail
cd "$(dirname "$0")/.."

smoke=0
readme_args=()
for arg in "$@"; do
  case "$arg" in
    --smoke) smoke=1 ;;
    --readme) readme_args=(--readme README.md) ;;
    *) echo "usage: $0 [--smoke] [--readme]" >&2; exit 2 ;;
  esac
done

# Every verdict comes from at least five alternated pairs whatever the flags say (the
# benchmark and processes.py add pairs up to five).
if [ "$smoke" = 1 ]; then
  mode="smoke run (scripts/bench.sh --smoke): at least 5 pairs per verdict, files up to 1 MiB"
  bench_flags=(--benchmark_min_time=0.01 --benchmark_repetitions=1
               '--benchmark_filter=/(fixture|3KB|1MiB)/')
  process_pairs=(fixture=5 1MiB=5)
  counted_sizes=(fixture)
else
  mode="full run (scripts/bench.sh)"
  bench_flags=(--benchmark_min_time=0.5 --benchmark_repetitions=3
               --benchmark_report_aggregates_only=true)
  process_pairs=(fixture=30 3KB=30 1MiB=10 10MiB=5)
  counted_sizes=(fixture 3KB 1MiB 10MiB)
fi

build=build-bench
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVEXLOR_BUILD_BENCH=ON \
  -DVEXLOR_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target vexlor_bench vexlor_minimal vexlor-bindings -j2 >/dev/null
bench="$build/bench/vexlor_bench"
minimal="$build/bench/vexlor_minimal"
tool="$build/cli/vexlor-bindings"

results="$build/bench-results"
rm -rf "$results"
mkdir -p "$results"
"$bench" --vexlor_write_documents="$results/documents"

machine="$results/machine.txt"
{
  echo "$mode, commit $(git rev-parse --short HEAD 2>/dev/null || echo unknown)"
  echo "started $(date -u '+%Y-%m-%d %H:%M UTC')"
  echo "processor: $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)," \
    "$(nproc) cores online"
  echo "load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"
} >"$machine"

# /var/tmp lives on the disk (it is kept across reboots, so it is no tmpfs); /dev/shm is
# memory. Flushes cost real device time on the first and almost nothing on the second.
declare -A roots=([disk]=/var/tmp [shm]=/dev/shm)
work_dirs=()
trap 'rm -rf "${work_dirs[@]}"' EXIT

table_args=()
for fs in disk shm; do
  work=$(mktemp -d "${roots[$fs]}/vexlor-bench.XXXXXX")
  work_dirs+=("$work")
  where=$(df -T "$work" | awk 'NR == 2 { print $2 " on " $1 }')
  echo "file system $fs: ${roots[$fs]}, $where" >>"$machine"
  echo "== $fs: $where, $work" >&2
  "$bench" --vexlor_dir="$work/cases" "${bench_flags[@]}" \
    --benchmark_out="$results/$fs.json" --benchmark_out_format=json >"$results/$fs.log" 2>&1 ||
    { cat "$results/$fs.log" >&2; exit 1; }
  python3 bench/processes.py "$tool" "$results/documents" "$work/processes" \
    "$results/processes-$fs.json" "${process_pairs[@]}"
  table_args+=("$fs=$results/$fs.json=$results/processes-$fs.json")
done

count_dir=$(mktemp -d /dev/shm/vexlor-count.XXXXXX)
work_dirs+=("$count_dir")
echo "== callgrind: ${counted_sizes[*]}" >&2
python3 bench/count_instructions.py "$bench" "$tool" "$minimal" "$results/documents" \
  "$count_dir" "$results/instructions.json" "${counted_sizes[@]}"

echo "load average at end: $(cut -d' ' -f1-3 /proc/loadavg)" >>"$machine"
python3 bench/print_table.py "${readme_args[@]}" "$machine" "$results/instructions.json" \
  "${table_args[@]}"
