#!/usr/bin/env python3
"""Times Windows programs under one running wineserver, interleaved.

usage: time_runs.py ROUNDS FOLDER NAME=COMMAND... [--json OUT]

Each round starts every command once, in turn (the order rotates from round
to round, so that a change of load on the machine falls on all of them
alike), from FOLDER, through /usr/lib/wine/wine64, and checks that it ends
with exit code 0 within 60 s. Prints the median wall time of each, and the
median over rounds of the last command's time divided by each one's time
(the last command is the one measured, the others its floors).
"""
import json
import shlex
import statistics
import subprocess
import sys
import time

WINE64 = "/usr/lib/wine/wine64"


def run_once(folder, words):
    start = time.perf_counter()
    done = subprocess.run([WINE64] + words, cwd=folder, stdin=subprocess.DEVNULL,
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
    elapsed = time.perf_counter() - start
    if done.returncode != 0:
        sys.exit(f"time_runs: {' '.join(words)} ended with {done.returncode}")
    return elapsed


def main():
    args = sys.argv[1:]
    out = None
    if "--json" in args:
        at = args.index("--json")
        out = args[at + 1]
        del args[at:at + 2]
    rounds, folder, specs = int(args[0]), args[1], args[2:]
    names = [spec.split("=", 1)[0] for spec in specs]
    commands = [shlex.split(spec.split("=", 1)[1]) for spec in specs]
    # One start of each first, not counted: the first start after a build
    # loads the files from disk.
    for words in commands:
        run_once(folder, words)
    times = {name: [] for name in names}
    for r in range(rounds):
        order = list(range(len(names)))
        order = order[r % len(order):] + order[:r % len(order)]
        for i in order:
            times[names[i]].append(run_once(folder, commands[i]))
    measured = names[-1]
    result = {"rounds": rounds, "measured": measured, "programs": {}}
    print(f"{'program':<24}{'median s':>10}{'min s':>9}{'max s':>9}"
          f"{measured + ' / this':>22}")
    for name in names:
        # Per round, so that both times of a ratio saw the same load.
        ratios = [m / t for m, t in zip(times[measured], times[name])]
        entry = {
            "median_s": statistics.median(times[name]),
            "min_s": min(times[name]),
            "max_s": max(times[name]),
            "median_ratio_of_measured": statistics.median(ratios),
            "times_s": times[name],
        }
        result["programs"][name] = entry
        print(f"{name:<24}{entry['median_s']:>10.3f}{entry['min_s']:>9.3f}{entry['max_s']:>9.3f}"
              f"{entry['median_ratio_of_measured']:>22.2f}")
    if out:
        with open(out, "w") as f:
            json.dump(result, f, indent=1)


if __name__ == "__main__":
    main()
