#!/usr/bin/env python3
"""Prints the benchmark's one table from Google Benchmark's JSON output and the Python timings.

Usage: print_table.py FS=BENCH_JSON=PYTHON_JSON ...   (one argument per file system)

For every operation, size and file system: time per operation, throughput, the most heap it
held at once (absolute and per byte of the file), its cost as a multiple of the I/O floor plus
the JSON floor measured in the same run, and as a multiple of the plain-Python patch. Then the
targets, each marked met or missed. Missed targets are reported, not failed; a case that
failed to run makes the exit status 1.
"""

import json
import statistics
import sys

OPERATIONS = ["atomic_write", "patch_first", "patch_already_patched", "unpatch_restore",
              "unpatch_erase"]
FLOORS = ["floor_io", "floor_json"]
PYTHON_OPERATIONS = ["patch_first", "patch_already_patched"]
SIZES = ["fixture", "3KB", "1MiB", "10MiB"]
UNIT_SECONDS = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}

PATCH_FLOOR_TARGET = 1.3
GROWTH_TARGET = 11.0
PEAK_TARGET = 8.0


def load_benchmark_rows(path, errors):
    """Returns {(operation, size): row}, taking the median where runs were repeated."""
    with open(path, encoding="utf-8") as f:
        runs = json.load(f)["benchmarks"]
    samples = {}
    medians = {}
    for run in runs:
        operation, size = run["run_name"].split("/")[:2]
        if run.get("error_occurred"):
            errors.append("%s/%s: %s" % (operation, size, run.get("error_message", "failed")))
            continue
        row = {
            "seconds": run["real_time"] * UNIT_SECONDS[run["time_unit"]],
            "bytes_per_second": run.get("bytes_per_second", 0.0),
            "peak": run.get("peak_heap_bytes", 0.0),
            "peak_ratio": run.get("peak_heap_per_file_byte", 0.0),
            "file_bytes": run.get("file_bytes", 0.0),
        }
        if run.get("run_type") == "aggregate":
            if run.get("aggregate_name") == "median":
                medians[(operation, size)] = row
        else:
            samples.setdefault((operation, size), []).append(row)
    rows = {}
    for key, runs_of_case in samples.items():
        rows[key] = min(runs_of_case, key=lambda r: abs(
            r["seconds"] - statistics.median(x["seconds"] for x in runs_of_case)))
    rows.update(medians)
    return rows


def load_python_rows(path):
    with open(path, encoding="utf-8") as f:
        results = json.load(f)["results"]
    return {(r["operation"], r["size"]): r["seconds"] for r in results}


def format_time(seconds):
    for unit, scale in (("s", 1.0), ("ms", 1e-3), ("us", 1e-6)):
        if seconds >= scale:
            return "%.3g %s" % (seconds / scale, unit)
    return "%.3g us" % (seconds / 1e-6)


def format_bytes(count):
    for unit, scale in (("MiB", 1 << 20), ("KiB", 1 << 10)):
        if count >= scale:
            return "%.1f %s" % (count / scale, unit)
    return "%d B" % count


def floor_sum(rows, size):
    io = rows.get(("floor_io", size))
    js = rows.get(("floor_json", size))
    return io["seconds"] + js["seconds"] if io and js else None


def table_lines(fs_name, rows, python):
    lines = []
    for size in SIZES:
        floors = floor_sum(rows, size)
        for operation in OPERATIONS + FLOORS:
            row = rows.get((operation, size))
            if row is None:
                continue
            to_floor = "%.2fx" % (row["seconds"] / floors) if floors and operation in OPERATIONS else "-"
            py = python.get((operation, size))
            to_python = "%.2fx" % (row["seconds"] / py) if py and operation in OPERATIONS else "-"
            lines.append([operation, size, fs_name, format_time(row["seconds"]),
                          "%.1f" % (row["bytes_per_second"] / 1e6), format_bytes(row["peak"]),
                          "%.2f" % row["peak_ratio"], to_floor, to_python])
        for operation in PYTHON_OPERATIONS:
            seconds = python.get((operation, size))
            if seconds is not None:
                file_bytes = rows.get(("floor_io", size), {}).get("file_bytes", 0.0)
                rate = "%.1f" % (file_bytes / seconds / 1e6) if file_bytes else "-"
                lines.append(["floor_python_" + operation, size, fs_name, format_time(seconds),
                              rate, "-", "-", "-", "-"])
    return lines


def target_lines(fs_name, rows, python):
    lines = []

    def verdict(ok):
        return "met   " if ok else "MISSED"

    for size in SIZES:
        floors = floor_sum(rows, size)
        patch = rows.get(("patch_first", size))
        if floors and patch:
            ratio = patch["seconds"] / floors
            lines.append("%s patch_first/%s on %s: %.2fx its floors (target <= %.1fx)" % (
                verdict(ratio <= PATCH_FLOOR_TARGET), size, fs_name, ratio, PATCH_FLOOR_TARGET))
    for operation in OPERATIONS:
        small, large = rows.get((operation, "1MiB")), rows.get((operation, "10MiB"))
        if small and large:
            ratio = large["seconds"] / small["seconds"]
            lines.append("%s %s on %s: 10MiB costs %.1fx 1MiB (target <= %.0fx)" % (
                verdict(ratio <= GROWTH_TARGET), operation, fs_name, ratio, GROWTH_TARGET))
    for operation in OPERATIONS:
        large = rows.get((operation, "10MiB"))
        if large:
            lines.append("%s %s/10MiB on %s: peak heap %.2fx the file (target <= %.0fx)" % (
                verdict(large["peak_ratio"] <= PEAK_TARGET), operation, fs_name,
                large["peak_ratio"], PEAK_TARGET))
    for operation in PYTHON_OPERATIONS:
        for size in SIZES:
            ours, theirs = rows.get((operation, size)), python.get((operation, size))
            if ours and theirs:
                ratio = ours["seconds"] / theirs
                lines.append("%s %s/%s on %s: %.2fx the Python patch (target < 1x)" % (
                    verdict(ratio < 1.0), operation, size, fs_name, ratio))
    return lines


def print_table(lines):
    header = ["operation", "size", "fs", "time/op", "MB/s", "peak heap", "heap/file",
              "x floors", "x python"]
    widths = [max(len(str(line[i])) for line in [header] + lines) for i in range(len(header))]
    left = {0, 1, 2}
    for line in [header, ["-" * w for w in widths]] + lines:
        print("  ".join(str(cell).ljust(w) if i in left else str(cell).rjust(w)
                        for i, (cell, w) in enumerate(zip(line, widths))))


def main(argv):
    if len(argv) < 2:
        sys.exit(__doc__)
    errors = []
    all_lines, all_targets = [], []
    for run in argv[1:]:
        fs_name, bench_json, python_json = run.split("=", 2)
        rows = load_benchmark_rows(bench_json, errors)
        python = load_python_rows(python_json)
        all_lines += table_lines(fs_name, rows, python)
        all_targets += target_lines(fs_name, rows, python)
    print_table(all_lines)
    print()
    print("x floors: time / (floor_io + floor_json) of the same size and file system.")
    print("x python: time / the plain-Python patch (floor_python_*) on the same file.")
    print()
    print("Targets (reported, never failed):")
    for line in all_targets:
        print("  " + line)
    for error in errors:
        print("ERROR " + error, file=sys.stderr)
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
