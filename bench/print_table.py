#!/usr/bin/env python3
"""Prints the benchmark's tables from Google Benchmark's JSON output, the instruction counts
and the whole-process timings, then each target as met or missed.

Usage: print_table.py INSTRUCTIONS_JSON FS=BENCH_JSON=PROCESSES_JSON ...

Operations, per size and file system: time per call, the floor's time in the same iterations,
the paired ratio (median of operation/floor per iteration, the two run alternately), the
instructions of one call against the floor's (callgrind, independent of load and of the file
system, so the same in both), and the most heap the call held, per byte of the file.
Processes: the tool and the Python script with the same guarantees, each run as a process
from start to end, alternately; Python's time over the tool's (median per pair) and each
one's peak resident memory.

Missed targets are reported, not failed; a case that failed to run makes the exit status 1.
"""

import json
import sys

OPERATIONS = ["atomic_write", "patch_first", "patch_already_patched", "status",
              "unpatch_restore", "unpatch_erase"]
PROCESS_COMMANDS = ["patch_first", "patch_already_patched", "status"]
SIZES = ["fixture", "3KB", "1MiB", "10MiB"]
UNIT_SECONDS = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}

INSTRUCTION_TARGET = 1.15
PAIRED_TIME_TARGET = 1.3
SPEEDUP_TARGET = {"fixture": 5.0, "3KB": 5.0, "1MiB": 2.0, "10MiB": 2.0}
PEAK_TARGET = {"patch_first": 4.0, "patch_already_patched": 2.0, "status": 2.0}


def load_benchmark_rows(path, errors):
    """{(operation, size): row}, the median of repeated runs where there are several."""
    with open(path, encoding="utf-8") as f:
        runs = json.load(f)["benchmarks"]
    rows = {}
    for run in runs:
        operation, size = run["run_name"].split("/")[:2]
        if run.get("error_occurred"):
            errors.append("%s/%s: %s" % (operation, size, run.get("error_message", "failed")))
            continue
        if run.get("run_type") == "aggregate" and run.get("aggregate_name") != "median":
            continue
        rows[(operation, size)] = {
            "seconds": run["real_time"] * UNIT_SECONDS[run["time_unit"]],
            "floor": run.get("floor_seconds", 0.0),
            "paired": run.get("paired_ratio", 0.0),
            "peak": run.get("peak_heap_bytes", 0.0),
            "file_bytes": run.get("file_bytes", 1.0),
        }
    return rows


def format_time(seconds):
    for unit, scale in (("s", 1.0), ("ms", 1e-3), ("us", 1e-6)):
        if seconds >= scale:
            return "%.3g %s" % (seconds / scale, unit)
    return "%.3g us" % (seconds / 1e-6)


def format_count(count):
    for unit, scale in (("G", 1e9), ("M", 1e6), ("k", 1e3)):
        if count >= scale:
            return "%.3g %s" % (count / scale, unit)
    return "%d" % count


def format_bytes(count):
    return "%.1f MB" % (count / 1e6) if count >= 1e6 else "%.0f kB" % (count / 1e3)


def print_table(header, lines):
    widths = [max(len(str(line[i])) for line in [header] + lines) for i in range(len(header))]
    for line in [header, ["-" * w for w in widths]] + lines:
        print("| " + " | ".join(str(cell).ljust(w) for cell, w in zip(line, widths)) + " |")


def verdict(ok):
    return "met   " if ok else "MISSED"


def operation_lines(fs_name, rows, counts, targets):
    lines = []
    for size in SIZES:
        for operation in OPERATIONS:
            row = rows.get((operation, size))
            if row is None:
                continue
            count = counts.get("%s/%s" % (operation, size))
            instructions = "-"
            if count:
                ratio = count["operation"] / count["floor"]
                instructions = "%s / %s = %.2fx" % (format_count(count["operation"]),
                                                    format_count(count["floor"]), ratio)
                if fs_name == "shm":  # counted once; the file system does not change them
                    targets.append("%s %s/%s: %.2fx its floor in instructions (target <= %.2fx)"
                                   % (verdict(ratio <= INSTRUCTION_TARGET), operation, size,
                                      ratio, INSTRUCTION_TARGET))
            targets.append("%s %s/%s on %s: %.2fx its floor in paired time (target <= %.1fx)" % (
                verdict(row["paired"] <= PAIRED_TIME_TARGET), operation, size, fs_name,
                row["paired"], PAIRED_TIME_TARGET))
            per_byte = row["peak"] / row["file_bytes"]
            if operation in PEAK_TARGET and size == "10MiB":
                targets.append("%s %s/%s on %s: peak heap %.2fx the file (target <= %.0fx)" % (
                    verdict(per_byte <= PEAK_TARGET[operation]), operation, size, fs_name,
                    per_byte, PEAK_TARGET[operation]))
            lines.append([operation, size, fs_name, format_time(row["seconds"]),
                          format_time(row["floor"]), "%.2fx" % row["paired"], instructions,
                          "%.2f" % per_byte])
    return lines


def process_lines(fs_name, results, targets):
    lines = []
    for size in SIZES:
        for command in PROCESS_COMMANDS:
            row = next((r for r in results if r["operation"] == command and r["size"] == size),
                       None)
            if row is None:
                continue
            speedup = row["python_over_tool"]
            targets.append("%s process %s/%s on %s: %.1fx faster than Python (target >= %.0fx)"
                           % (verdict(speedup >= SPEEDUP_TARGET[size]), command, size, fs_name,
                              speedup, SPEEDUP_TARGET[size]))
            lines.append([command, size, fs_name, format_time(row["tool_seconds"]),
                          format_time(row["python_seconds"]), "%.1fx" % speedup,
                          format_bytes(row["tool_peak_rss"]),
                          "%.2f" % (row["tool_peak_rss"] / row["file_bytes"]),
                          format_bytes(row["python_peak_rss"])])
    return lines


def main(argv):
    if len(argv) < 3:
        sys.exit(__doc__)
    with open(argv[1], encoding="utf-8") as f:
        counts = json.load(f)
    errors, targets = [], []
    operations, processes = [], []
    for run in argv[2:]:
        fs_name, bench_json, processes_json = run.split("=", 2)
        rows = load_benchmark_rows(bench_json, errors)
        operations += operation_lines(fs_name, rows, counts, targets)
        with open(processes_json, encoding="utf-8") as f:
            processes += process_lines(fs_name, json.load(f)["results"], targets)
    print_table(["operation", "size", "fs", "time", "floor", "x floor (paired)",
                 "instructions / floor", "peak heap / file"], operations)
    print()
    print_table(["process", "size", "fs", "tool", "python", "python / tool", "tool max RSS",
                 "RSS / file", "python max RSS"], processes)
    print()
    if "tool --version" in counts:
        print("tool --version: %s instructions (process start-up)" %
              format_count(counts["tool --version"]))
        print()
    print("Targets (reported, never failed):")
    for line in targets:
        print("  " + line)
    for error in errors:
        print("ERROR " + error, file=sys.stderr)
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
