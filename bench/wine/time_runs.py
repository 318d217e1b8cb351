#!/usr/bin/env python3
"""Times Windows programs under one running wineserver, interleaved.

usage: time_runs.py ROUNDS FOLDER NAME=COMMAND... [--json OUT]

Each round starts every command once, in turn (the order rotates from round
to round, so that a change of load on the machine falls on all of them
alike), from FOLDER, through /usr/lib/wine/wine64, and checks that it ends
with exit code 0 within 60 s; a run that does not is reported with its
error output and kept in the JSON, and its round is run again (at most 3
times). Prints the median wall time of each, and the median over rounds of
the last command's time divided by each one's time (the last command is the
one measured, the others its floors).
"""
import json
import shlex
import statistics
import subprocess
import sys
import tempfile
import threading
import time

WINE64 = "/usr/lib/wine/wine64"
# A failed run is reported and its round started again, up to this many.
MAX_FAILURES = 3
LIMIT_S = 60


failures = []


def run_once(folder, words):
    """The wall time of one run, or None when it did not end with 0."""
    with tempfile.TemporaryFile() as err:
        start = time.perf_counter()
        process = subprocess.Popen([WINE64] + words, cwd=folder, stdin=subprocess.DEVNULL,
                                   stdout=subprocess.DEVNULL, stderr=err)
        # A blocking wait: Popen.wait with a time limit polls, in steps of up
        # to 50 ms, which would round every time up to the next step. The
        # time limit is a timer that ends the program instead.
        limit = threading.Timer(LIMIT_S, process.kill)
        limit.start()
        returncode = process.wait()
        elapsed = time.perf_counter() - start
        limit.cancel()
        if returncode == 0:
            return elapsed
        err.seek(0)
        text = err.read().decode(errors="replace").strip()
    if elapsed >= LIMIT_S:
        text = f"killed after {LIMIT_S} s (a message box waiting?) {text}"
    failures.append({"command": " ".join(words), "exit": returncode, "stderr": text})
    print(f"time_runs: {' '.join(words)} ended with {returncode}: {text or '(no output)'}",
          file=sys.stderr)
    if len(failures) > MAX_FAILURES:
        sys.exit("time_runs: too many failed runs")
    return None


def json_option(args):
    """Takes "--json OUT" out of the argument list `args`; returns OUT or None."""
    if "--json" not in args:
        return None
    at = args.index("--json")
    out = args[at + 1]
    del args[at:at + 2]
    return out


def main():
    args = sys.argv[1:]
    out = json_option(args)
    rounds, folder, given = int(args[0]), args[1], args[2:]
    names = [entry.split("=", 1)[0] for entry in given]
    commands = [shlex.split(entry.split("=", 1)[1]) for entry in given]
    # One start of each first, not counted: the first start after a build
    # loads the files from disk.
    for words in commands:
        if run_once(folder, words) is None:
            sys.exit("time_runs: the first run failed")
    times = {name: [] for name in names}
    r = 0
    while r < rounds:
        order = list(range(len(names)))
        order = order[r % len(order):] + order[:r % len(order)]
        got = {}
        for i in order:
            got[names[i]] = run_once(folder, commands[i])
        if None in got.values():
            continue  # the round is run again: its ratios would be incomplete
        for name in names:
            times[name].append(got[name])
        r += 1
    measured = names[-1]
    result = {"rounds": rounds, "measured": measured, "failures": failures, "programs": {}}
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
