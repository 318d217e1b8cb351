#!/usr/bin/env python3
"""Prints the tables of docs/PERFORMANCE.md from one run's measurements.

usage: perf_report.py READERS.json WINE.json [COUNTS]

READERS.json: Google Benchmark's JSON output of inf_readers_bench (median
aggregates of repeated runs). Each reader "R/<size>/<n>dev/<stream>" is
paired with "R_floor/<same>"; the ratio is the reader's time over the floor's,
by CPU time (what the reader itself costs; the machine may be shared) and by
wall time. WINE.json: the output of time_runs.py. COUNTS: the callgrind
output file name given to inf_readers_bench run with MERVO_BENCH_COUNT; its
dumps COUNTS.<n> hold the instructions of one reading of each reader and
floor, which gives a third ratio that the machine's load does not move.
"""
import glob
import json
import statistics
import sys

LIMIT_READERS = 2.0
LIMIT_RUN = 1.5
# The whole run against its true floor (RunFloor: the same DLLs, tool starts
# and system work without the run's own logic).
LIMIT_TRUE_FLOOR = 1.05


def medians(path):
    with open(path) as f:
        data = json.load(f)
    rows = {}
    for b in data["benchmarks"]:
        if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "median":
            continue
        rows[b.get("run_name", b["name"])] = b
    return data.get("context", {}), rows


def instruction_counts(prefix):
    counts = {}
    for path in glob.glob(glob.escape(prefix) + ".*"):
        name = None
        with open(path) as f:
            for line in f:
                if line.startswith("desc: Trigger: Client Request: "):
                    name = line[len("desc: Trigger: Client Request: "):].strip()
                elif line.startswith("summary:") and name:
                    counts[name] = int(line.split()[1])
    return counts


def reader_table(rows, counts):
    def order(name):
        parts = name.split("/")
        size = {"10KB": 0, "1MB": 1, "16MB": 2}.get(parts[1], 3) if len(parts) > 1 else 3
        return (parts[0], parts[-1], size, name)

    rows = {name: rows[name] for name in sorted(rows, key=order)}
    out = ["| reader | INF size | device lines | stream | reader MB/s | floor MB/s "
           "| ratio (CPU) | ratio (wall) | ratio (instructions) | within 2x |",
           "|---|---|---|---|---:|---:|---:|---:|---:|---|"]
    worst = 0.0
    for name, b in rows.items():
        parts = name.split("/")
        if parts[0].endswith("_floor"):
            continue
        floor = rows.get("/".join([parts[0] + "_floor"] + parts[1:]))
        if floor is None:
            continue
        cpu = b["cpu_time"] / floor["cpu_time"]
        wall = b["real_time"] / floor["real_time"]
        floor_name = "/".join([parts[0] + "_floor"] + parts[1:])
        instructions = "-"
        within = cpu <= LIMIT_READERS
        if name in counts and floor_name in counts:
            ratio = counts[name] / counts[floor_name]
            instructions = f"{ratio:.2f}"
            within = within and ratio <= LIMIT_READERS
        worst = max(worst, cpu)
        out.append(f"| {parts[0]} | {parts[1]} | {parts[2].replace('dev', '')} | {parts[3]} "
                   f"| {b['bytes_per_second'] / 1e6:.0f} | {floor['bytes_per_second'] / 1e6:.0f} "
                   f"| {cpu:.2f} | {wall:.2f} | {instructions} "
                   f"| {'yes' if within else 'NO'} |")
    return out, worst


def wine_table(path):
    with open(path) as f:
        data = json.load(f)
    measured = data["measured"]
    out = [f"Whole run under Wine, {data['rounds']} rounds, interleaved "
           f"(times in seconds, wall clock, from the shell's start of wine64 to its end):",
           "",
           f"| program | median | min | max | {measured} / program (median over rounds) |",
           "|---|---:|---:|---:|---:|"]
    for name, p in data["programs"].items():
        out.append(f"| {name} | {p['median_s']:.3f} | {p['min_s']:.3f} | {p['max_s']:.3f} "
                   f"| {p['median_ratio_of_measured']:.2f} |")
    for failure in data.get("failures", []):
        out.append("")
        out.append(f"A run failed and its round was run again: {failure['command']}"
                   f" ended with {failure['exit']} ({failure['stderr'] or 'no output'}).")
    return out, data


def main():
    context, rows = medians(sys.argv[1])
    counts = instruction_counts(sys.argv[3]) if len(sys.argv) > 3 else {}
    lines, worst = reader_table(rows, counts)
    print("INF readers (median of the repetitions; MB = 10^6 bytes; the ratio is"
          " reader time / floor time):")
    print()
    print("\n".join(lines))
    print()
    print(f"Worst reader ratio (CPU): {worst:.2f} (target <= {LIMIT_READERS})")
    print()
    wine, data = wine_table(sys.argv[2])
    print("\n".join(wine))
    print()
    programs = data["programs"]
    run = programs[data["measured"]]["times_s"]
    trivial = programs["trivial"]["times_s"]
    print(f"Whole run / trivial start: {programs['trivial']['median_ratio_of_measured']:.2f}"
          f" (target <= {LIMIT_RUN})")
    imports = programs["trivial_imports"]["times_s"]

    def median(values):
        return statistics.median(list(values))

    # One start of the companion tool, as the stager makes it, from a plain
    # process and from one with the stager's DLLs loaded.
    plain = median((c - t) / 2 for c, t in zip(programs["two_children"]["times_s"], trivial))
    loaded = median((c - t) / 2
                    for c, t in zip(programs["two_children_imports"]["times_s"], imports))
    print(f"One start of the companion tool: {plain:.3f} s from a plain process"
          f" ((two_children - trivial) / 2), {loaded:.3f} s from one with the stager's DLLs"
          f" ((two_children_imports - trivial_imports) / 2); trivial start {median(trivial):.3f} s")
    # The two starts of the companion tool are part of every run. Taken out
    # per round, the rest over the trivial start:
    rest = median((r - c + t) / b for r, c, t, b in
                  zip(run, programs["two_children_imports"]["times_s"], imports, trivial))
    print(f"Whole run less its two tool starts"
          f" (stager - two_children_imports + trivial_imports), / trivial: {rest:.2f}")
    rest = median((r - c + t) / t for r, c, t in
                  zip(run, programs["two_children_imports"]["times_s"], imports))
    print(f"The same, / trivial_imports: {rest:.2f}")
    if "run_floor" in programs:
        floor = programs["run_floor"]
        print(f"Whole run / its true floor (run_floor): {floor['median_ratio_of_measured']:.2f}"
              f" (target <= {LIMIT_TRUE_FLOOR}); {median(run) - median(floor['times_s']):+.3f} s"
              f" median difference")


if __name__ == "__main__":
    main()
