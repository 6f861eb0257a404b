#!/usr/bin/env bash
# Builds the benchmark and the tool in release mode; times every operation against its floor
# on the disk and on a memory file system, counts their instructions under callgrind, times
# whole processes of the tool against the plain-Python script, and prints the tables.
#
#   scripts/bench.sh           the full run (about ten minutes)
#   scripts/bench.sh --smoke   every case once, the small files only under callgrind (for CI)
set -euo pipefail
cd "$(dirname "$0")/.."

smoke=0
case "${1:-}" in
  --smoke) smoke=1 ;;
  "") ;;
  *) echo "usage: $0 [--smoke]" >&2; exit 2 ;;
esac

operations=(atomic_write patch_first patch_already_patched status unpatch_restore unpatch_erase)
if [ "$smoke" = 1 ]; then
  bench_flags=(--benchmark_min_time=0.01 --benchmark_repetitions=1)
  process_pairs=(fixture=1 3KB=1 1MiB=1 10MiB=1)
  counted_sizes=(fixture)
else
  bench_flags=(--benchmark_min_time=0.5 --benchmark_repetitions=3
               --benchmark_report_aggregates_only=true)
  process_pairs=(fixture=30 3KB=30 1MiB=10 10MiB=5)
  # Instructions grow with the file; 1 MiB shows the per-byte cost, 10 MiB only multiplies
  # callgrind's run time.
  counted_sizes=(fixture 3KB 1MiB)
fi

build=build-bench
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVEXLOR_BUILD_BENCH=ON \
  -DVEXLOR_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target vexlor_bench vexlor-bindings -j2 >/dev/null
bench="$build/bench/vexlor_bench"
tool="$build/cli/vexlor-bindings"

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
  python3 bench/processes.py "$tool" "$results/documents" "$work/processes" \
    "$results/processes-$fs.json" "${process_pairs[@]}"
  table_args+=("$fs=$results/$fs.json=$results/processes-$fs.json")
done

cases=()
for size in "${counted_sizes[@]}"; do
  for operation in "${operations[@]}"; do cases+=("$operation/$size"); done
done
count_dir=$(mktemp -d /dev/shm/vexlor-count.XXXXXX)
work_dirs+=("$count_dir")
echo "== callgrind: ${#cases[@]} cases" >&2
python3 bench/count_instructions.py "$bench" "$count_dir" "$tool" "$results/instructions.json" \
  "${cases[@]}"

echo "== load average while running: $(cut -d' ' -f1-3 /proc/loadavg)" >&2
python3 bench/print_table.py "$results/instructions.json" "${table_args[@]}"
