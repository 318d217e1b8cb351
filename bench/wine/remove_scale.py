#!/usr/bin/env python3
"""Times the companion tool's remove command at scale beside its floor.

usage: remove_scale.py ROUNDS FOLDER SIZE... [--json OUT]

FOLDER holds MERVODevCtl64.exe, RemoveScale.exe and bench.inf (an INF that
names USB\\VID_0123&PID_4567). For each SIZE, each round makes SIZE device
instances (RemoveScale populate: half of them served by bench.inf, half of
the same vendor's other product), times one command, checks that exactly
the served half is gone, removes the rest, and does the same for the other
command; the order of the two alternates from round to round, so that a
change of load on the machine falls on both alike. The commands:

  remove   MERVODevCtl64.exe remove "bench.inf" *VID_0123*
  floor    RemoveScale.exe floor USB\\VID_0123&PID_4567&REV_0100

Times are wall clock from the start of wine64 to its end, under the running
wineserver of the environment, output to a file. Prints, per size, the
median time of each, the median over rounds of remove / floor, the ratio of
the fastest runs, and the time per instance.
"""
import json
import statistics
import subprocess
import sys
import tempfile
import time

from time_runs import json_option

WINE64 = "/usr/lib/wine/wine64"
SERVED = "USB\\VID_0123&PID_4567&REV_0100"
COMMANDS = {
    "remove": ["MERVODevCtl64.exe", "remove", "bench.inf", "*VID_0123*"],
    "floor": ["RemoveScale.exe", "floor", SERVED],
}


def wine(folder, words):
    # The output goes to a file, not a pipe: a reader woken by every line
    # the command prints would compete with it for the processor.
    with tempfile.TemporaryFile() as output:
        start = time.perf_counter()
        done = subprocess.run([WINE64] + words, cwd=folder, stdin=subprocess.DEVNULL,
                              stdout=output, stderr=subprocess.STDOUT, timeout=3600)
        elapsed = time.perf_counter() - start
        output.seek(0)
        text = output.read().decode(errors="replace")
    if done.returncode != 0:
        sys.exit(f"remove_scale: {' '.join(words)} ended with {done.returncode}: {text[-2000:]}")
    return elapsed, text


def count(folder):
    return int(wine(folder, ["RemoveScale.exe", "count"])[1].split()[-1])


def one_run(folder, size, name):
    wine(folder, ["RemoveScale.exe", "clear"])
    wine(folder, ["RemoveScale.exe", "populate", str(size)])
    if count(folder) != size:
        sys.exit(f"remove_scale: populate {size} made {count(folder)} instances")
    elapsed, output = wine(folder, COMMANDS[name])
    left = count(folder)
    if left != size - (size + 1) // 2:
        sys.exit(f"remove_scale: {name} at {size} left {left} instances: {output[-2000:]}")
    return elapsed


def main():
    args = sys.argv[1:]
    out = json_option(args)
    rounds, folder, sizes = int(args[0]), args[1], [int(s) for s in args[2:]]
    result = {"rounds": rounds, "sizes": {}}
    # One run of each first, not counted: the first start after a build
    # loads the files from disk.
    for name in COMMANDS:
        one_run(folder, 10, name)
    print(f"{'instances':>10}{'remove s':>10}{'floor s':>10}{'remove/floor':>14}"
          f"{'of fastest':>12}{'remove ms/inst':>16}{'floor ms/inst':>15}")
    for size in sizes:
        times = {name: [] for name in COMMANDS}
        for r in range(rounds):
            order = list(COMMANDS) if r % 2 == 0 else list(reversed(COMMANDS))
            for name in order:
                times[name].append(one_run(folder, size, name))
        ratios = [t / f for t, f in zip(times["remove"], times["floor"])]
        entry = {name: {"median_s": statistics.median(v), "min_s": min(v), "max_s": max(v),
                        "times_s": v} for name, v in times.items()}
        entry["median_ratio"] = statistics.median(ratios)
        entry["max_ratio"] = max(ratios)
        # The fastest run of each is the one least disturbed by other work.
        entry["min_time_ratio"] = min(times["remove"]) / min(times["floor"])
        result["sizes"][str(size)] = entry
        print(f"{size:>10}{entry['remove']['median_s']:>10.3f}{entry['floor']['median_s']:>10.3f}"
              f"{entry['median_ratio']:>14.3f}{entry['min_time_ratio']:>12.3f}"
              f"{entry['remove']['median_s'] * 1000 / size:>16.3f}"
              f"{entry['floor']['median_s'] * 1000 / size:>15.3f}", flush=True)
    wine(folder, ["RemoveScale.exe", "clear"])
    if out:
        with open(out, "w") as f:
            json.dump(result, f, indent=1)


if __name__ == "__main__":
    main()
