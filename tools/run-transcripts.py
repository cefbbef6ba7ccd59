#!/usr/bin/env python3
"""Runs the language transcripts through the real kiv.

A transcript (*.txt under the given folder) is a table of cases: a line
starting with ">> " is input, the lines after it up to the next input are the
output kiv must print for it. All inputs of a file are piped to one kiv process
on standard input and its whole output is compared line by line.

Lines starting with ";;;" are comments, except these directives at the top:
  ;;; args: A B C      command-line arguments for kiv (after the program)
  ;;; status: N        the exit status kiv must end with (default 0)
  ;;; env: NAME=VALUE  an environment variable for the run
  ;;; banner: no       the console prints no banner (a script ran first)
  ;;; last line open   the input's last line has no line feed after it
The console's banner is expected in the output of a run (first, or after
what a script named on the command line printed) unless "banner: no" is
given; it is checked and taken off before the outputs are compared.
The run's working directory is a fresh temporary folder; "$DIR" in args and
input lines stands for the transcript's own folder.
"""
import concurrent.futures
import os
import re
import shlex
import subprocess
import sys
import tempfile


BANNER = re.compile(r"--== Kiv \S+ ==-- $")
BANNER_REST = ["Type HELP for starting information. ", ""]


def parse(path):
    args, env, status, banner, open_end = [], {}, 0, True, False
    inputs, expected, owner = [], [], []
    here = os.path.dirname(os.path.abspath(path))
    with open(path, encoding="utf-8") as f:
        lines = f.read().split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    case = None
    for line in lines:
        if line.startswith(";;;"):
            body = line[3:].strip()
            if body.startswith("args:"):
                args = [a.replace("$DIR", here) for a in shlex.split(body[5:])]
            elif body.startswith("status:"):
                status = int(body[7:])
            elif body == "last line open":
                open_end = True
            elif body.startswith("banner:"):
                banner = body[7:].strip() != "no"
            elif body.startswith("env:"):
                k, _, v = body[4:].strip().partition("=")
                env[k] = v.replace("$DIR", here)
            continue
        if line.startswith(">> ") or line == ">>":
            case = line[3:]
            inputs.append(case.replace("$DIR", here))
            continue
        expected.append(line)
        owner.append(case)
    return args, env, status, banner, open_end, inputs, expected, owner


def run(kiv, path):
    args, env, status, banner, open_end, inputs, expected, owner = parse(path)
    full_env = dict(os.environ)
    full_env.update(env)
    with tempfile.TemporaryDirectory(prefix="kiv-t-") as tmp:
        full_env.setdefault("XDG_CACHE_HOME", tmp)
        data = "".join(line + "\n" for line in inputs).encode("utf-8")
        if open_end:
            data = data[:-1]
        try:
            proc = subprocess.run([kiv] + args, input=data, capture_output=True,
                                  cwd=tmp, env=full_env, timeout=600)
        except subprocess.TimeoutExpired:
            return f"{path}: timed out"
    out = proc.stdout.decode("utf-8", errors="replace").split("\n")
    if out and out[-1] == "":
        out.pop()
    problems = []
    if banner:
        at = next((i for i in range(len(out) - 2)
                   if BANNER.match(out[i]) and out[i + 1:i + 3] == BANNER_REST), None)
        if at is None:
            problems.append(f"{path}: the output holds no banner: {out[:3]!r}")
        else:
            del out[at:at + 3]
    for i in range(max(len(out), len(expected))):
        got = out[i] if i < len(out) else "<missing>"
        want = expected[i] if i < len(expected) else "<nothing more>"
        if got != want:
            case = owner[i] if i < len(owner) else "(after the last case)"
            problems.append(f"{path}: output line {i + 1}, case >> {case}\n"
                            f"  expected: {want!r}\n  got:      {got!r}")
            break
    code = proc.returncode
    if not (code == status or (code >= 0 and code == (status & 0xFF))):
        problems.append(f"{path}: exit status {code}, expected {status}")
    if problems and proc.stderr:
        problems.append("  stderr: " + proc.stderr.decode("utf-8", "replace")[-2000:])
    return "\n".join(problems)


def main():
    kiv, root = os.path.abspath(sys.argv[1]), sys.argv[2]
    files = sorted(os.path.join(d, f) for d, _, fs in os.walk(root)
                   for f in fs if f.endswith(".txt"))
    with concurrent.futures.ThreadPoolExecutor(os.cpu_count() or 2) as pool:
        results = list(pool.map(lambda p: run(kiv, p), files))
    failed = [r for r in results if r]
    for r in failed:
        print(r)
    print(f"{len(files) - len(failed)} passed, {len(failed)} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
