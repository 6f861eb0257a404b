#!/usr/bin/env python3
"""Writes the benchmark's report from one run: the machine and its load, the tables, and each
target as met, missed or not measured.

Usage: print_table.py [--readme FILE] MACHINE INSTRUCTIONS_JSON FS=BENCH_JSON=PROCESSES_JSON ...

MACHINE holds "name: value" lines (processor, cores, load average at start and end...), given
as they stand. The report goes to standard output in Markdown; with --readme it also replaces
what stands between the markers "<!-- bench:begin -->" and "<!-- bench:end -->" in FILE, so
no figure there is typed by hand.

Operations, per size and file system: median time per call, the floor's in the same pairs,
the paired ratio (median of operation/floor per pair, the two run alternately, at least five
pairs), the instructions of one call against the floor's, and the most heap the call held, per
byte of the file. Whole processes: the tool's instructions against the floor's call plus a
minimal program's whole run; the tool and the Python program with the same guarantees, each
run from start to end, alternately; Python's time over the tool's (median per pair) and each
one's peak resident memory.

Missed targets are reported, not failed; a case that failed to run makes the exit status 1.
"""

import json
import sys

OPERATIONS = ["atomic_write", "patch_first", "patch_already_patched", "status",
              "unpatch_restore", "unpatch_undo", "unpatch_erase", "dry_run_patch",
              "dry_run_unpatch"]
SIZES = ["fixture", "3KB", "1MiB", "10MiB"]
UNIT_SECONDS = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}
BEGIN, END = "<!-- bench:begin -->", "<!-- bench:end -->"

# Whole processes against their floor in instructions: the unpatch 1.3x, the rest 1.15x.
PROCESS_INSTRUCTION_TARGET = {"unpatch_restore": 1.3, "unpatch_undo": 1.3, "unpatch_erase": 1.3}
OTHER_INSTRUCTION_TARGET = 1.15
PAIRED_TIME_TARGET = 1.3
PEAK_TARGET = 2.0  # heap (in the process) and resident memory (whole), per byte of the file
PEAK_SIZES = {"heap": ["1MiB", "10MiB"], "rss": ["10MiB"]}  # where the file outweighs start-up
SPEEDUP_TARGET = {"fixture": 5.0, "3KB": 5.0, "1MiB": 2.0, "10MiB": 2.0}
START_UP_TARGET = 1.2
# What the targets must be judged on; a run that leaves one out says so.
REQUIRED = ([("instructions", op, size) for op in ("unpatch_restore", "unpatch_undo")
             for size in ("3KB", "1MiB", "10MiB")]
            + [("python", op, "10MiB") for op in ("status", "patch_first", "patch_already_patched",
                                                  "unpatch_restore", "unpatch_undo")]
            + [("rss", op, "10MiB") for op in OPERATIONS if op != "atomic_write"])


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
            "floor": run["floor_seconds"], "paired": run["paired_ratio"],
            "pairs": int(run["pairs"]), "peak": run["peak_heap_bytes"],
            "file_bytes": run["file_bytes"],
        }
    return rows


def scaled(value, units, smallest):
    """Three significant digits in the largest unit that keeps the value at 1 or more once
    rounded (999.7 M is "1 G", never "1e+03 M")."""
    for unit, scale in units:
        if value >= scale * 0.9995:
            return "%.3g %s" % (value / scale, unit)
    return smallest


def format_time(seconds):
    units = (("s", 1.0), ("ms", 1e-3), ("us", 1e-6))
    return scaled(seconds, units, "%.3g us" % (seconds / 1e-6))


def format_count(count):
    return scaled(count, (("G", 1e9), ("M", 1e6), ("k", 1e3)), "%d" % count)


def format_bytes(count):
    return "%.1f MB" % (count / 1e6) if count >= 1e6 else "%.0f kB" % (count / 1e3)


def table(header, lines):
    widths = [max(len(str(line[i])) for line in [header] + lines) for i in range(len(header))]
    return ["| " + " | ".join(str(cell).ljust(w) for cell, w in zip(line, widths)) + " |"
            for line in [header, ["-" * w for w in widths]] + lines]


KIND_TITLES = {"instructions": "Whole processes in instructions",
               "start-up": "Start-up in instructions",
               "python": "Whole processes against the Python program",
               "rss": "Peak resident memory of whole processes",
               "heap": "Peak heap in the process",
               "time": "Time against the floor, in the process"}


class Verdicts:
    def __init__(self):
        self.lines = {kind: [] for kind in KIND_TITLES}
        self.judged = set()

    def add(self, ok, kind, operation, size, text):
        self.judged.add((kind, operation, size))
        self.lines[kind].append("%s %s: %s" % ("met   " if ok else "MISSED",
                                               operation if size is None
                                               else operation + "/" + size, text))

    def report(self):
        out = []
        for kind, title in KIND_TITLES.items():
            missing = ["not measured in this run: " + "%s/%s" % required[1:]
                       for required in REQUIRED
                       if required[0] == kind and required not in self.judged]
            if self.lines[kind] or missing:
                out += [title + ":", ""] + ["    " + line for line in self.lines[kind] + missing]
                out += [""]
        return out


def operation_lines(fs_name, rows, cases, verdicts):
    lines = []
    for size in SIZES:
        for operation in OPERATIONS:
            row = rows.get((operation, size))
            if row is None:
                continue
            count = cases.get("%s/%s" % (operation, size))
            instructions = "-"
            if count:
                instructions = "%s / %s = %.2fx" % (format_count(count["operation"]),
                                                    format_count(count["floor"]),
                                                    count["operation"] / count["floor"])
            verdicts.add(row["paired"] <= PAIRED_TIME_TARGET, "time", operation, size,
                         "%.2fx its floor in time on %s, median of %d pairs (target <= %.1fx)"
                         % (row["paired"], fs_name, row["pairs"], PAIRED_TIME_TARGET))
            per_byte = row["peak"] / row["file_bytes"]
            if size in PEAK_SIZES["heap"]:
                verdicts.add(per_byte <= PEAK_TARGET, "heap", operation, size,
                             "peak heap %.2fx the file on %s (target <= %.0fx)"
                             % (per_byte, fs_name, PEAK_TARGET))
            lines.append([operation, size, fs_name, format_time(row["seconds"]),
                          format_time(row["floor"]), "%.2fx" % row["paired"], row["pairs"],
                          instructions, "%.2f" % per_byte])
    return lines


def instruction_lines(cases, verdicts):
    lines = []
    for size in SIZES:
        for operation in OPERATIONS:
            count = cases.get("%s/%s" % (operation, size))
            if not count or "tool_process" not in count:
                continue
            ratio = count["tool_process"] / count["floor_process"]
            target = PROCESS_INSTRUCTION_TARGET.get(operation, OTHER_INSTRUCTION_TARGET)
            verdicts.add(ratio <= target, "instructions", operation, size,
                         "whole process %.2fx its floor in instructions (target <= %.2fx)"
                         % (ratio, target))
            lines.append([operation, size, format_count(count["tool_process"]),
                          format_count(count["floor_process"]), "%.2fx" % ratio])
    return lines


def process_lines(fs_name, results, verdicts):
    lines = []
    for size in SIZES:
        for command in OPERATIONS:
            row = next((r for r in results if r["operation"] == command and r["size"] == size),
                       None)
            if row is None:
                continue
            rss_per_byte = row["tool_peak_rss"] / row["file_bytes"]
            if size in PEAK_SIZES["rss"]:
                verdicts.add(rss_per_byte <= PEAK_TARGET, "rss", command, size,
                             "whole process peak resident memory %.2fx the file on %s "
                             "(target <= %.0fx)" % (rss_per_byte, fs_name, PEAK_TARGET))
            python = ["-", "-", "-"]
            if "python_seconds" in row:
                speedup = row["python_over_tool"]
                verdicts.add(speedup >= SPEEDUP_TARGET[size], "python", command, size,
                             "whole process %.1fx faster than Python on %s, median of %d "
                             "pairs (target >= %.0fx)"
                             % (speedup, fs_name, row["pairs"], SPEEDUP_TARGET[size]))
                python = [format_time(row["python_seconds"]), "%.1fx" % speedup,
                          format_bytes(row["python_peak_rss"])]
            lines.append([command, size, fs_name, format_time(row["tool_seconds"]), python[0],
                          python[1], row["pairs"], format_bytes(row["tool_peak_rss"]),
                          "%.2f" % rss_per_byte, python[2]])
    return lines


def start_up_lines(counts, verdicts):
    tool, minimal = counts["tool"], counts["minimal"]
    ratio = tool["before_main"] / minimal["before_main"]
    verdicts.add(ratio <= START_UP_TARGET, "start-up", "vexlor-bindings --version", None,
                 "%.2fx a minimal program's instructions before main (target <= %.1fx)"
                 % (ratio, START_UP_TARGET))
    return table(["program", "instructions before main", "whole run"],
                 [["`vexlor-bindings --version`", format_count(tool["before_main"]),
                   format_count(tool["whole"])],
                  ["minimal C++ program, linked as the tool", format_count(minimal["before_main"]),
                   format_count(minimal["whole"])]])


def report(machine_lines, counts, runs, errors):
    verdicts = Verdicts()
    operations, processes = [], []
    for run in runs:
        fs_name, bench_json, processes_json = run.split("=", 2)
        operations += operation_lines(fs_name, load_benchmark_rows(bench_json, errors),
                                      counts["cases"], verdicts)
        with open(processes_json, encoding="utf-8") as f:
            processes += process_lines(fs_name, json.load(f)["results"], verdicts)
    out = ["Written by `scripts/bench.sh` from one run; do not edit by hand.", ""]
    out += ["- " + line for line in machine_lines] + [""]
    out += table(["operation", "size", "fs", "time", "floor", "x floor (paired)", "pairs",
                  "instructions / floor", "peak heap / file"], operations) + [""]
    out += table(["process", "size", "instructions", "floor + minimal program", "x floor"],
                 instruction_lines(counts["cases"], verdicts)) + [""]
    out += table(["process", "size", "fs", "tool", "python", "python / tool", "pairs",
                  "tool max RSS", "RSS / file", "python max RSS"], processes) + [""]
    out += start_up_lines(counts, verdicts) + [""]
    out += ["Targets (reported, never failed):", ""] + verdicts.report()
    return out[:-1]


def rewrite_readme(path, lines):
    with open(path, encoding="utf-8") as f:
        text = f.read()
    start, end = text.find(BEGIN), text.find(END)
    if start < 0 or end < start:
        sys.exit("print_table.py: %s has no %s ... %s region" % (path, BEGIN, END))
    text = text[:start + len(BEGIN)] + "\n" + "\n".join(lines) + "\n" + text[end:]
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)


def main(argv):
    readme = None
    if len(argv) > 2 and argv[1] == "--readme":
        readme, argv = argv[2], argv[:1] + argv[3:]
    if len(argv) < 4:
        sys.exit(__doc__)
    with open(argv[1], encoding="utf-8") as f:
        machine_lines = [line.strip() for line in f if line.strip()]
    with open(argv[2], encoding="utf-8") as f:
        counts = json.load(f)
    errors = []
    lines = report(machine_lines, counts, argv[3:], errors)
    print("\n".join(lines))
    for error in errors:
        print("ERROR " + error, file=sys.stderr)
    if errors:
        return 1
    if readme:
        rewrite_readme(readme, lines)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
