"""Start-up time: kiv running an empty script against `python3 -c pass` and
`lua5.4 -e ''`. Each runs N times; the best and the median wall-clock times
are shown with the ratios to kiv. Called by bench/startup-time.sh.
"""
import argparse
import os
import statistics
import subprocess
import tempfile
import time


def times(command, runs):
    out = []
    for _ in range(runs):
        start = time.perf_counter()
        subprocess.run(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, check=False)
        out.append(time.perf_counter() - start)
    return min(out), statistics.median(out)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--kiv", required=True)
    parser.add_argument("--python", default="/usr/bin/python3")
    parser.add_argument("--lua", default="lua5.4")
    parser.add_argument("--runs", type=int, default=30)
    args = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix="kiv-start-") as tmp:
        script = os.path.join(tmp, "empty.kiv")
        with open(script, "w") as f:
            f.write("Kiv []\n")
        commands = {
            "kiv": [args.kiv, script],
            "python3": [args.python, "-c", "pass"],
            "lua5.4": [args.lua, "-e", ""],
        }
        results = {name: times(cmd, args.runs) for name, cmd in commands.items()}
    print(f"start-up, {args.runs} runs, milliseconds")
    print(f"{'':<10}{'best':>10}{'median':>10}{'kiv/x':>10}")
    kiv_best = results["kiv"][0]
    for name, (best, median) in results.items():
        print(f"{name:<10}{best * 1000:>10.2f}{median * 1000:>10.2f}{kiv_best / best:>10.2f}")


if __name__ == "__main__":
    main()
