#!/usr/bin/env python3
"""Random-call fuzzer: calls functions with random arguments and refinements.

Each generated line is `try [NAME/REF... ARG ...]`, where every argument is
drawn from a pool of values covering the datatypes and their edge values
(empty, long and past-the-tail series, the integer limits, huge and
non-number floats, self-containing blocks and so on). Lines go in batches to
one kiv process each, on piped standard input, in a fresh temporary folder.

A batch fails when kiv dies by a signal, exits with a non-zero status, runs
past the time limit, prints an AddressSanitizer or UndefinedBehaviorSanitizer
report, prints an internal error (other than the ones allowed), or stops
before the batch's last line. The lines of a failed batch are then run one
by one to find the ones that fail on their own; a failure that needs the
whole batch is reported with it.

The function names are the generic actions (read from the action table) or
the lines of the file given with --names (blank lines and lines starting
with # are skipped). Refinements and argument counts are taken from each
function's spec, asked from kiv itself. The random generator is seeded
(--seed), so a run can be repeated.

Usage: calls.py [--kiv build-san/kiv] [--names FILE] [--seed N]
                [--count N] [--batch N] [--jobs N] [--timeout S]
                [--first image,event]
"""
import argparse
import concurrent.futures
import os
import random
import re
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
ACTION_LIST = os.path.join(ROOT, "runtime", "datatypes", "action-list.h")

ASAN_OPTIONS = ("detect_leaks=0:detect_stack_use_after_return=0:handle_segv=0:"
                "handle_sigbus=0:handle_sigfpe=0:handle_sigill=0:"
                "allow_user_segv_handler=1")

# Functions that end the session, wait for input or reach outside the
# temporary folder are never called.
NEVER_CALL = {
    "eval-path", "set-path", "quit", "q", "halt", "exit", "ask", "input",
    "wait", "call", "shell", "browse", "launch", "run", "do-browser",
    "change-dir", "cd", "recycle", "stats",
}

# Functions that may reach a file or the network: no url! arguments, and
# files only by relative names inside the run's temporary folder.
PORTISH = {
    "create", "close", "delete", "modify", "open", "open?", "query", "read",
    "rename", "update", "write", "load", "save", "do", "make-dir", "exists?",
    "info?", "size?", "modified?", "dir?", "list-dir", "dir",
}

# Internal errors that are designed answers, not faults: a field or mode
# not built, a size no allocation can meet, a deep copy of a block that
# contains itself (or a walk into it), a recursion past the stack, an
# error spec block that starts with neither a word nor a set-word.
ALLOWED_INTERNAL = ("reserved for future use", "not enough memory",
                    "circular reference not allowed", "stack overflow",
                    "too deep to process", "invalid error object field value")

# The argument pool: expressions that each evaluate to one value.
POOL = {
    "none": ["none", "true", "false", "()"],
    "integer": ["0", "1", "-1", "2", "3", "4", "5", "7", "-7", "10", "100",
                "255", "256", "-256", "65536", "2147483647", "-2147483648",
                "2147483646", "-2147483647", "1000000", "-2"],
    "float": ["0.0", "-0.0", "0.5", "1.5", "-2.5", "1e308", "-1e308",
              "1e-308", "4.9e-324", "1.0", "-1.0", "0.1", "2.5", "1e9", "(0.0 / 0.0)", "(1e308 * 10)",
              "(-1e308 * 10)", "2147483648.0", "-2147483649.0", "1e10"],
    "percent": ["0%", "50%", "-100%", "1e300%", "-1e300%", "(to percent! 1.#NaN)"],
    "money": ["$0", "$1.50", "-$0.01", "$99999999999999.99", "-$1e20"],
    "char": ['#"a"', '#"^@"', '#"^/"', '#"\u00ff"', '#"\u20ac"',
             '#"^(10FFFF)"', '#"Z"'],
    "pair": ["0x0", "1x2", "-1x-1", "2147483647x2147483647",
             "-2147483648x0", "3x-5", "1.5x2.5"],
    "tuple": ["0.0.0", "1.2.3", "255.255.255.255",
              "1.2.3.4.5.6.7.8.9.10.11.12"],
    "date": ["1-Jan-2000", "31-Dec-9999", "1-Jan-0001",
             "29-Feb-2000/23:59:59+14:00", "1-Jan-2000/0:00-12:00"],
    "time": ["0:00", "10:20:30.5", "-1:00", "596523:14:07", "0:00:00.000001",
             "(to time! 1.#NaN)", "(to time! -1.#INF)", "(to time! 1e300)"],
    "string": ['""', '"abc"', '"\u00c4\u00d6\u00fc\u20ac"', '(tail "abc")',
               '(next next "ab")', '(append/dup copy "" "ab" 300)', '"a^@b"',
               '"^/ x ^- "', '(s: copy "abcd" t: at s 3 clear s t)',
               '"A\u00e9z"', '(at "abcdef" 4)'],
    "binary": ["#{}", "#{00FF}", "(tail #{0102})",
               "(append/dup copy #{} #{00} 500)", "#{DEADBEEF}",
               "(s: copy #{010203} t: at s 3 clear s t)"],
    "file": ['%""', "%a.txt", "%fuzz-dir/", "(tail %abc)", "%a/b/c"],
    "url": ["http://x.y/z", "(tail ftp://a)"],
    "text": ["a@b.c", '<a b="c">', "#iss", "@abc", "<>", "(tail @abc)"],
    "bitset": ['(charset "abc")', "(make bitset! 0)", "(make bitset! 1000)",
               '(complement charset "a")', "(make bitset! #{FF})"],
    "map": ['(make map! [a 1 "b" 2])', "(make map! [])",
            "(make map! [1 [x] 2.5 #{00}])"],
    "hash": ["(make hash! [a 1 b 2])", "(make hash! [])"],
    "object": ['(make object! [a: 1 b: "x"])', "(context [])",
               "(o: context [a: 1] o/a: o o)"],
    "error": ["(try [1 / 0])", '(try [make error! "x"])'],
    "typeset": ["(make typeset! [integer! string!])", "any-type!", "series!",
                "number!"],
    "datatype": ["integer!", "block!", "string!", "datatype!", "unset!",
                 "object!", "none!", "map!", "bitset!", "char!", "pair!",
                 "binary!", "word!", "path!", "error!", "date!", "money!",
                 "tuple!", "function!", "paren!", "file!", "tag!", "hash!",
                 "typeset!", "float!", "logic!", "time!", "percent!",
                 "vector!", "image!"],
    "word": ["'a", "(quote a:)", "(quote :a)", "(quote 'a)", "(quote /a)",
             "'append", "'self", "'none", "'owned", "'changed", "'words",
             "'values", "'body", "'spec", "'owner", "'class", "'events?",
             "'hour", "'x", "'y", "'z", "'year", "'time", "'zone", "'code",
             "'amount", "'user", "'host", "'stack", "'id"],
    "path": ["'a/b", "(quote a/b:)", "(quote :a/b)", "(quote 'a/b)",
             "(to path! [])", "'a/1/b", "(tail 'a/b)"],
    "block": ["[]", "[1 2 3]", "[a b c]", "[[1 2] [3 [4]]]", "(tail [1 2])",
              "(next next [1])", "(b: copy [1] append/only b b b)",
              "(append/dup copy [] 1 300)", "[a 1 b 2 c 3]",
              '["b" "a" "C" "c"]', "(s: copy [1 2 3 4] t: at s 3 clear s t)",
              "[1 none #[none] 2.5 $1 x]", "(quote (1 2))",
              "(to paren! [a b])", "[1 2 3 4 5 6 7 8 9 10]",
              "(reduce [context [a: 1] 'a])",
              "(reduce [context [on-deep-change*: func [a b c d e f g] [a]] 'x])"],
    "vector": ["(make vector! [1 2 3])", "(make vector! [])", "(make vector! 5)",
               "(make vector! [1.5 -0.0 1e300])", "(make vector! [float! 32 [1.5 1e300]])",
               "(make vector! [integer! 8 [127 -128 255]])", "(make vector! [integer! 16 4])",
               "(make vector! [char! 32 [#\"a\" #\"^(10FFFF)\"]])", "(make vector! [50% -1e300%])",
               "(tail make vector! [1 2])", "(s: make vector! [1 2 3 4] t: at s 3 clear s t)",
               "(make vector! 10000)"],
    "image": ["(make image! 0x0)", "(make image! 2x2)", "(make image! [3x1 #{FF0000 00FF00 0000FF}])",
              "(make image! [2x2 255.0.0.128])", "(tail make image! 2x3)", "(at make image! 4x4 6)",
              "(make image! [1x1 #{} #{}])", "(s: make image! 3x3 t: at s 5 clear s t)",
              "(make image! 1x1000)"],
    "event": ["(make event! [])", "(make event! [type: 'click key: #\"a\" offset: 3x4])",
              "(make event! [type: 'key-down flags: [shift control away]])",
              "(make event! [offset: (1.5, -2.5) picked: -2147483648 face: none])",
              "(make event! [type: 'over face: make object! [type: 'base]])"],
    "function": ["(func [x] [x])", "(does [1])", ":append", ":print",
                 ":+", ":add", "(func [a b] [a < b])", "(func [] [])",
                 "(func [a b] [throw 1])", "(func [a b] [1 / 0])",
                 "(func [a b] [exit])", "(does [break])"],
}

TOKEN = re.compile(r'"(?:[^"^]|\^.)*"|\{[^}]*\}|[\[\]]|[^\s\[\]]+')


def action_names():
    names = []
    with open(ACTION_LIST, encoding="utf-8") as f:
        for m in re.finditer(r'X\(\d+,\s*\w+,\s*"([^"]+)"', f.read()):
            names.append(m.group(1))
    return names


def read_names(path):
    with open(path, encoding="utf-8") as f:
        return [ln.strip() for ln in f
                if ln.strip() and not ln.lstrip().startswith("#")]


def parse_spec(text):
    """A spec's mold -> (argument count, [(refinement, argument count)])."""
    depth, args, refs = 0, 0, []
    for tok in TOKEN.findall(text.strip()[1:-1] if text.startswith("[") else ""):
        if tok == "[":
            depth += 1
        elif tok == "]":
            depth -= 1
        elif depth or tok[0] in '"{' or tok.endswith(":"):
            continue
        elif tok.startswith("/"):
            if tok == "/local":
                break
            refs.append([tok[1:], 0])
        elif refs:
            refs[-1][1] += 1
        else:
            args += 1
    return args, [tuple(r) for r in refs]


def ask_specs(kiv, names):
    """Asks kiv for each function's spec; names without one are dropped."""
    script = "".join(f'print "##{n}" print mold spec-of get quote {n}\n'
                     for n in names)
    proc = subprocess.run([kiv], input=script.encode(), capture_output=True,
                          timeout=120, env=run_env())
    specs, name = {}, None
    for line in proc.stdout.decode("utf-8", "replace").split("\n"):
        if line.startswith("##"):
            name = line[2:]
        elif name and line.startswith("["):
            specs[name] = parse_spec(line)
            name = None
    return specs


GC_STRESS = False
# The pool kinds the first argument is drawn from half the time (--first);
# empty for the series kinds.
FIRST_KINDS = []


def run_env(workdir=None):
    env = dict(os.environ)
    if GC_STRESS:
        env["KIV_GC_STRESS"] = "1"
    if workdir:
        env["XDG_CACHE_HOME"] = os.path.join(workdir, "cache")
    env["ASAN_OPTIONS"] = ASAN_OPTIONS
    env["UBSAN_OPTIONS"] = "print_stacktrace=1"
    return env


SERIES_KINDS = ["string", "binary", "block", "file", "text", "path", "map",
                "hash", "bitset", "image", "vector"]


def argument(rng, name, first):
    """A pool expression; the first argument is a series half the time (a
    datatype for make and to) and the others an integer a third of the time
    (counts, sizes, positions)."""
    if first and name in ("make", "to") and rng.random() < 0.5:
        return rng.choice(POOL["datatype"])
    if first and rng.random() < 0.5:
        return rng.choice(POOL[rng.choice(FIRST_KINDS or SERIES_KINDS)])
    if not first and rng.random() < 0.3:
        return rng.choice(POOL["integer"])
    kinds = list(POOL)
    if name in PORTISH:
        kinds.remove("url")
    kind = rng.choice(kinds)
    return rng.choice(POOL[kind])


def nested_call(rng, names, specs, refine):
    """A call whose result (or error) is an argument of another call."""
    name = rng.choice(names)
    return "(" + make_line(rng, name, specs[name], refine, alias=False) + ")"


def make_line(rng, name, spec, refine, first=None, alias=True):
    nargs, refs = spec
    chosen = [r for r in refs if rng.random() < refine]
    rng.shuffle(chosen)
    path = "/".join([name] + [r for r, _ in chosen])
    count = nargs + sum(n for _, n in chosen)
    if alias and first is None and rng.random() < ALIAS_CHANCE:
        return aliased_line(rng, name, path, count)
    args = [argument(rng, name, i == 0) for i in range(count)]
    if first and args:
        args[0] = first
    return f"try [{' '.join([path] + args)}]"


# Part of the lines call with one series in several arguments (positions
# in it, or a function that changes it while the action runs): the first
# argument is the series, the others are it again half the time.
ALIAS_CHANCE = 0.3
ALIAS_SOURCES = ['copy "abcdef"', "copy [1 2 3 [4 5] 6]", "copy #{010203040506}",
                 "make vector! [1 2 3 4 5 6]",
                 "copy %a/b/c", 'copy "äb€d"', "make hash! [a 1 b 2 c 3]",
                 "copy [a b c d]", "copy 'a/b/c", "copy <abcd>",
                 # series whose owner hears of every change, and may fail
                 # or throw (caught)
                 "get in make object! [b: [3 1 2] on-deep-change*: "
                 "func [o w t a n i p] [none]] 'b",
                 "get in make object! [s: \"cab\" on-deep-change*: "
                 "func [o w t a n i p] [if a = 'inserted [1 / 0] 77]] 's",
                 "get in make object! [s: \"cab\" on-deep-change*: "
                 "func [o w t a n i p] [catch [throw 1]]] 's"]
ALIAS_USES = ["x", "(at x 2)", "(tail x)", "(head x)", "(at x 3)", "(back tail x)",
              "(func [a b] [clear x true])", "(func [a b] [append x x a < b])",
              "(does [clear head x])", "(copy x)", "(skip x 1000)",
              "(reduce [x x])"]


def aliased_line(rng, name, path, count):
    args = []
    for i in range(count):
        if i == 0:
            args.append(rng.choice(["x", "x", "(at x 2)", "(tail x)", "(at x 4)"]))
        elif rng.random() < 0.5:
            args.append(rng.choice(ALIAS_USES))
        else:
            args.append(argument(rng, name, False))
    setup = f"x: {rng.choice(ALIAS_SOURCES)}"
    return f"try [{setup} {' '.join([path] + args)}]"


def check(kiv, lines, timeout, workdir):
    """Runs the lines in one kiv; returns a failure description or None."""
    script = "".join(line + "\n" for line in lines) + 'print "@@END"\n'
    try:
        proc = subprocess.run([kiv], input=script.encode(), capture_output=True,
                              timeout=timeout, cwd=workdir, env=run_env(workdir))
    except subprocess.TimeoutExpired:
        return "timeout"
    out = proc.stdout.decode("utf-8", "replace")
    err = proc.stderr.decode("utf-8", "replace")
    if proc.returncode < 0:
        return f"signal {-proc.returncode}: {err.strip()[:300]}"
    for mark in ("AddressSanitizer", "runtime error:", "LeakSanitizer"):
        if mark in err:
            at = err.index(mark)
            return f"sanitizer: {err[max(0, at - 100):at + 400]}"
    if proc.returncode != 0:
        said = [ln for ln in out.split("\n") if ln.startswith("*** Runtime Error")]
        said += [ln for ln in err.split("\n") if ln and "ASan is ignoring" not in ln
                 and not ln.startswith(("False positive", "For details"))]
        return f"exit status {proc.returncode}: {' | '.join(said)[:300]}"
    for line in out.split("\n"):
        if "Internal Error" in line and not any(a in line for a in ALLOWED_INTERNAL):
            return f"internal error: {line}"
    if "@@END" not in out:
        return "stopped before the end of its input"
    return None


def run_batch(kiv, lines, timeout):
    with tempfile.TemporaryDirectory(prefix="kiv-fuzz-") as tmp:
        failure = check(kiv, lines, timeout, tmp)
        if failure is None:
            return []
        found = []
        for line in lines:
            with tempfile.TemporaryDirectory(prefix="kiv-fuzz-") as one:
                why = check(kiv, [line], timeout, one)
            if why:
                found.append((line, why))
        return found or [("\n".join(lines), "batch only: " + failure)]


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--kiv", default=os.path.join(ROOT, "build-san", "kiv"))
    ap.add_argument("--names", help="file of function names, one per line")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--count", type=int, default=20000, help="calls in all")
    ap.add_argument("--batch", type=int, default=200, help="calls per process")
    ap.add_argument("--jobs", type=int, default=4)
    ap.add_argument("--gc-stress", action="store_true",
                    help="run kiv with KIV_GC_STRESS=1 (a collection at every chance)")
    ap.add_argument("--refine", type=float, default=0.3,
                    help="the chance of each refinement being used")
    ap.add_argument("--timeout", type=float, default=30.0)
    ap.add_argument("--print", action="store_true",
                    help="print the generated lines instead of running them")
    ap.add_argument("--first", help="comma-separated pool kinds the first argument "
                    "is drawn from half the time (default: the series kinds)")
    opts = ap.parse_args()
    opts.kiv = os.path.abspath(opts.kiv)
    global GC_STRESS, FIRST_KINDS
    GC_STRESS = opts.gc_stress
    FIRST_KINDS = opts.first.split(",") if opts.first else []

    names = read_names(opts.names) if opts.names else action_names()
    names = [n for n in names if n not in NEVER_CALL]
    specs = ask_specs(opts.kiv, names)
    missing = [n for n in names if n not in specs]
    if missing:
        print("no spec for:", " ".join(missing), file=sys.stderr)
    names = [n for n in names if n in specs]
    if not names:
        sys.exit("no functions to call")

    rng = random.Random(opts.seed)
    lines = []
    for _ in range(opts.count):
        name = rng.choice(names)
        # A tenth of the lines take as first argument the result of
        # another call, which reaches states no literal has.
        first = None
        if rng.random() < 0.1:
            first = nested_call(rng, names, specs, opts.refine)
        lines.append(make_line(rng, name, specs[name], opts.refine, first))
    if opts.print:
        print("\n".join(lines))
        return
    batches = [lines[i:i + opts.batch] for i in range(0, len(lines), opts.batch)]
    failures = 0
    with concurrent.futures.ThreadPoolExecutor(opts.jobs) as pool:
        for found in pool.map(lambda b: run_batch(opts.kiv, b, opts.timeout),
                              batches):
            for line, why in found:
                failures += 1
                print(f"FAIL {why}\n  {line}\n", flush=True)
    print(f"{len(lines)} calls to {len(names)} functions, seed {opts.seed}: "
          f"{failures} failing", flush=True)
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
