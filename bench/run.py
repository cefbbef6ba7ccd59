"""Benchmark runner: the same program in Kiv, Python and Lua.

For every bench/<name>.kiv that has <name>.py and <name>.lua beside it, the
three programs must print the same result line (their last line of output)
before any timing counts. Each then runs N times, the three taking turns; the
table shows each one's best wall-clock time and the ratios kiv/python3 and
kiv/lua5.4 as the median of the rounds' own ratios (the three runs of a round
follow each other, so they share the host's conditions of the moment, which
a best-of-N time per interpreter does not: on a shared host one interpreter
may meet a fast moment that another never gets).
A program that kiv cannot run yet is skipped with a message. Called by
bench/run.sh, which builds kiv and installs the interpreters.
"""
import argparse
import os
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def run_once(command):
    start = time.perf_counter()
    proc = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True,
                          timeout=600, cwd=HERE)
    elapsed = time.perf_counter() - start
    lines = [l for l in proc.stdout.decode("utf-8", "replace").splitlines() if l.strip()]
    return proc.returncode, (lines[-1] if lines else None), elapsed


def interleaved(commands, runs):
    """Each command's times over `runs` rounds, the commands taking turns
    within a round: on a machine whose speed drifts over seconds (a shared
    host), the runs of one round see the same conditions."""
    times = {lang: [] for lang in commands}
    for _ in range(runs):
        for lang, command in commands.items():
            times[lang].append(run_once(command)[2])
    return times


def median_ratio(times, lang, other):
    return statistics.median(a / b for a, b in zip(times[lang], times[other]))


def programs(names):
    found = sorted(f[:-4] for f in os.listdir(HERE) if f.endswith(".kiv"))
    chosen = [n for n in found if not names or n in names]
    for name in chosen:
        twins = [os.path.join(HERE, name + ext) for ext in (".py", ".lua")]
        if all(os.path.exists(t) for t in twins):
            yield name
        else:
            print(f"{name}: skipped: needs both {name}.py and {name}.lua")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--kiv", required=True)
    parser.add_argument("--python", default="/usr/bin/python3")
    parser.add_argument("--lua", default="lua5.4")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("names", nargs="*")
    args = parser.parse_args()

    rows, mismatches = [], 0
    for name in programs(args.names):
        commands = {
            "kiv": [args.kiv, name + ".kiv"],
            "python3": [args.python, name + ".py"],
            "lua5.4": [args.lua, name + ".lua"],
        }
        status, kiv_result, _ = run_once(commands["kiv"])
        if status != 0 or kiv_result is None:
            print(f"{name}: skipped: kiv cannot run it yet "
                  f"(status {status}, {'no result line' if kiv_result is None else 'result ' + repr(kiv_result)})")
            continue
        results = {"kiv": kiv_result}
        for lang in ("python3", "lua5.4"):
            results[lang] = run_once(commands[lang])[1]
        if len(set(results.values())) != 1:
            print(f"{name}: results differ: " + ", ".join(f"{k} {v!r}" for k, v in results.items()))
            mismatches += 1
            continue
        rows.append((name, interleaved(commands, args.runs)))

    if not rows:
        print("no benchmark ran")
        return 1 if mismatches else 0
    print(f"{args.runs} rounds: best times in seconds, median of the rounds' ratios")
    print(f"{'program':<20}{'kiv':>10}{'python3':>10}{'lua5.4':>10}{'kiv/py':>10}{'kiv/lua':>10}")
    for name, t in rows:
        print(f"{name:<20}{min(t['kiv']):>10.3f}{min(t['python3']):>10.3f}{min(t['lua5.4']):>10.3f}"
              f"{median_ratio(t, 'kiv', 'python3'):>10.2f}{median_ratio(t, 'kiv', 'lua5.4'):>10.2f}")
    return 1 if mismatches else 0


if __name__ == "__main__":
    sys.exit(main())
