#!/usr/bin/env python3
"""Feeds mutated programs to kiv and flags the runs that go wrong.

The programs come from the language transcripts (tests/lang/**/*.txt): the
inputs (">> ...") of each file, an input running on over lines while a block
or paren is open, minus those that read input, stop the process, wait, call
programs, open the network or a GUI, or write files. A
batch is a run of consecutive inputs of one file (so definitions made early
in the file are still seen), most of them mutated at the token level: tokens
dropped, duplicated, swapped or replaced from the pool of all tokens seen,
ranges wrapped in [ ] or ( ), words turned into set-words, get-words,
lit-words or paths, operators and control words inserted, and the result
nested in a function, a loop, a try or a recursion. Each line is wrapped in
try [...] so that it can't end the session early.

A batch is piped to one kiv process (working directory: a fresh temporary
folder) and flagged when kiv ends by a signal or with a status other than 0,
when stderr holds a sanitizer report, when it runs past the timeout, when the
output shows an internal error other than the expected limits (stack
overflow, nesting too deep), or when a "Where:"/"Near :" line holds control
characters or replacement characters. With --stress, each batch also runs
with KIV_GC_STRESS=1 and both outputs must match line for line.

A failing batch is written to OUT/fail-SEED-N.kiv together with a note of
what went wrong, so that it can be replayed with `kiv < file`.

  tests/fuzz/mutate-programs.py --kiv build-san/kiv --seed 1 --batches 200
  tests/fuzz/mutate-programs.py --kiv build/kiv --stress --seed 7
"""
import argparse
import concurrent.futures
import os
import random
import re
import subprocess
import sys
import tempfile

from ddmin import ddmin

# Words that stop the process, wait, read the console, reach the network,
# call programs, open a GUI or touch files. A line holding one of them is
# not used, and none of them enters the token pool.
FORBIDDEN = {
    "quit", "halt", "q", "quit-return", "wait", "input", "ask", "call", "browse", "open",
    "write", "save", "delete", "rename", "make-dir", "change-dir", "create",
    "update", "modify", "close", "read-thru", "load-thru", "do-thru",
    "path-thru", "exists-thru?", "flip-exe-flag", "set-env", "secure",
    "forever", "launch", "view", "do-file", "to-local-file", "routine",
    "now", "random", "stats", "list-env", "what-dir", "recycle", "unset",
}
# Text that must not appear anywhere in a line: network schemes, absolute
# files, the transcript's own folder.
FORBIDDEN_TEXT = re.compile(r"https?:|ftp:|tcp:|dns:|udp:|file:|%/|\$DIR|%~|%\.\.")

OPERATORS = ["+", "-", "*", "/", "=", "<", ">", "<>", "and", "or", "//", "**"]
CONTROL = ["return", "break", "continue", "exit", "throw", "catch", "try",
           "do", "reduce", "compose", "bind", "use", "func", "does", "has",
           "if", "either", "loop", "while", "foreach", "apply", "get", "set",
           "context", "make", "copy", "first", "next", "back", "insert",
           "append", "parse", "to-word", "in", "quote"]
WORD = re.compile(r"^[A-Za-z!?*&|~_=<>+\-][A-Za-z0-9!?*&|~_=<>+\-.']*$")
NUMBER = re.compile(r"^[+-]?\d")


def tokenize(line):
    """Splits a line into tokens; strings, binaries and chars stay whole."""
    tokens, i, n = [], 0, len(line)
    while i < n:
        c = line[i]
        if c.isspace():
            i += 1
        elif c == ";":
            break
        elif c in "[]()":
            tokens.append(c)
            i += 1
        else:
            start = i
            while i < n and not line[i].isspace() and line[i] not in "[]()":
                if line[i] == '"':
                    i = skip_quoted(line, i)
                elif line[i] == "{":
                    i = skip_braced(line, i)
                elif line[i] == ";" and i == start:
                    break
                else:
                    i += 1
            tokens.append(line[start:i])
    return tokens


def skip_quoted(line, i):
    i += 1
    while i < len(line) and line[i] != '"':
        i += 2 if line[i] == "^" else 1
    return min(i + 1, len(line))


def skip_braced(line, i):
    depth = 0
    while i < len(line):
        c = line[i]
        if c == "^":
            i += 2
            continue
        if c == "{":
            depth += 1
        elif c == "}":
            depth -= 1
            if depth == 0:
                return i + 1
        i += 1
    return i


def is_word(tok):
    return bool(WORD.match(tok)) and not NUMBER.match(tok) and "'" not in tok


def allowed(tokens):
    for tok in tokens:
        base = tok.strip(":'").split("/")[0].lower()
        if base in FORBIDDEN:
            return False
        # Strings may be loaded and done; keep the stoppers out of them too.
        if tok[:1] in '"{' and re.search(r"\b(quit|halt|q|wait|call|browse)\b", tok):
            return False
    return True


def collect(root):
    """Returns {file: [token lists]} and the pool of all tokens seen."""
    programs, pool = {}, []

    def keep(lines, group):
        # The lines of one input make one program; one that holds a
        # forbidden word, or is cut short, gives its allowed lines alone.
        whole = [t for part in group for t in part]
        for toks in [whole] if allowed(whole) and depth(whole) == 0 else group:
            if toks and allowed(toks):
                lines.append(toks)
                pool.extend(t for t in toks if t not in "[]()")

    for d, _, files in sorted(os.walk(root)):
        for f in sorted(files):
            if not f.endswith(".txt"):
                continue
            lines, group = [], []
            with open(os.path.join(d, f), encoding="utf-8") as fh:
                for line in fh:
                    line = line.rstrip("\n")
                    body = line[3:]
                    if not line.startswith(">> ") or FORBIDDEN_TEXT.search(body):
                        keep(lines, group)
                        group = []
                        continue
                    # The console reads on while a block or paren is open.
                    group.append(tokenize(body))
                    if depth([t for part in group for t in part]) == 0:
                        keep(lines, group)
                        group = []
            keep(lines, group)
            if lines:
                programs[os.path.join(d, f)] = lines
    return programs, sorted(set(pool))


def depth(tokens):
    """How many blocks and parens are left open at the end of tokens."""
    n = 0
    for t in tokens:
        if t in ("[", "("):
            n += 1
        elif t in ("]", ")"):
            n = max(0, n - 1)
    return n


def balance(tokens):
    """Drops closers without an opener and closes what stays open."""
    out, stack = [], []
    pairs = {"]": "[", ")": "("}
    for t in tokens:
        if t in "[(" and t:
            stack.append(t)
            out.append(t)
        elif t in pairs:
            if stack and stack[-1] == pairs[t]:
                stack.pop()
                out.append(t)
        else:
            out.append(t)
    for t in reversed(stack):
        out.append("]" if t == "[" else ")")
    return out


def rewrite_word(tok, rng):
    kind = rng.randrange(5)
    if kind == 0:
        return tok + ":"
    if kind == 1:
        return ":" + tok
    if kind == 2:
        return "'" + tok
    if kind == 3:
        return tok + "/" + rng.choice(["1", "2", "a", "x", "only", "part", "local"])
    return "/" + tok


def mutate_once(toks, pool, rng):
    toks = list(toks)
    n = len(toks)
    at = rng.randrange(n) if n else 0
    op = rng.randrange(14)
    if op == 0 and n:
        del toks[at]
    elif op == 1 and n:
        toks.insert(at, toks[at])
    elif op == 2 and n > 1:
        b = rng.randrange(n)
        toks[at], toks[b] = toks[b], toks[at]
    elif op == 3 and n:
        toks[at] = rng.choice(pool)
    elif op == 4:
        toks.insert(at, rng.choice(pool))
    elif op == 5 and n:
        end = rng.randrange(at, n) + 1
        opener, closer = rng.choice([("[", "]"), ("(", ")")])
        toks[at:end] = [opener] + toks[at:end] + [closer]
    elif op == 6:
        words = [i for i, t in enumerate(toks) if is_word(t)]
        if words:
            i = rng.choice(words)
            toks[i] = rewrite_word(toks[i], rng)
    elif op == 7:
        toks.insert(at, rng.choice(OPERATORS))
    elif op == 8:
        toks.insert(at, rng.choice(CONTROL))
    elif op == 9 and n:
        # A block's contents go to a different place.
        end = rng.randrange(at, n) + 1
        piece = toks[at:end]
        del toks[at:end]
        where = rng.randrange(len(toks) + 1)
        toks[where:where] = piece
    elif op == 10 and n:
        toks[at] = rng.choice(EDGES)
    elif op == 11:
        # Another line, from any file, spliced in.
        other = rng.choice(ALL_LINES)
        a = rng.randrange(len(other))
        toks[at:at] = other[a:a + rng.randint(1, 6)]
    elif op == 12 and n:
        depth = rng.choice([2, 10, 100])
        opener, closer = rng.choice([("[", "]"), ("(", ")"), ("do [", "]"), ("reduce [", "]")])
        toks[at:at + 1] = [opener] * depth + [toks[at]] + [closer] * depth
    else:
        toks.insert(at, rng.choice(["[", "]", "(", ")"] + EDGES))
    return toks


# Values at the edges of their types, and one of each kind of literal.
EDGES = ["none", "0", "-1", "1.5", '""', "[]", "()", "#{}", "2147483647",
         "-2147483648", "9223372036854775807", "1e308", "-0.0", "1e-320",
         "1e300", "-1e300", "1.#NaN", "1.#INF", "-1.#INF", "2147483648.0", "-2147483649.0",
         "(1e30, -1e30)", "(1.#NaN, 1)", "1e300%",
         "0.0", "1x2", "-2147483648x0", "1.2.3", "255.255.255.255", "$1.50",
         "-$0.01", "10%", "#\"a\"", "#\"^@\"", "#{FF00}", "%file", "%\"\"",
         "<tag>", "a@b", "#issue", "'lit", "/ref", "1-Jan-2000", "31-Dec-9999/23:59",
         "1:00", "-596523:00", "true", "false", "unset!", "block!", "string!",
         "integer!", "[a b c]", "(1 + 2)", "a/b/c", ":a/b", "a/b:", "'a/b",
         '"abc"', "{x^/y}", '"^(1F600)"', "#[none]", "[[[]]]", "first [a:]"]


NESTS = [
    lambda body, rng: body,
    lambda body, rng: f"f: func [x] [{body}] f 1",
    lambda body, rng: f"loop 3 [{body}]",
    lambda body, rng: f"do [{body}]",
    lambda body, rng: f"r: func [n] [if n > 0 [{body} r n - 1]] r 3",
    lambda body, rng: f"catch [{body}]",
    lambda body, rng: f"foreach x [1 \"a\" [b]] [{body}]",
    lambda body, rng: f"reduce [{body}]",
    lambda body, rng: f"g: does [{body}] g g",
    lambda body, rng: f"o: context [a: 1 m: func [] [{body}]] o/m",
]


MAX_MUTATIONS = [4]


def mutate_line(toks, pool, rng):
    for _ in range(rng.randint(1, MAX_MUTATIONS[0])):
        toks = mutate_once(toks, pool, rng)
    body = " ".join(balance(spare_system_words(toks)))
    nest = NESTS[rng.randrange(len(NESTS))] if rng.random() < 0.4 else NESTS[0]
    return nest(body, rng)


def spare_system_words(toks):
    """The console is written in the language: a system word set to something
    else ends the session, which would hide the rest of the batch. Such a
    set-word becomes v:, and so does a loop word. Unmutated lines need it too:
    a transcript's multi-line input is split into lines, and a line inside an
    object (an actor's swap: or length?) would otherwise run at top level."""
    toks = ["v:" if t.endswith(":") and t[:-1].lower() in SYSTEM_WORDS else t
            for t in toks if allowed([t])]
    for i in range(1, len(toks)):
        if toks[i - 1] in ("foreach", "remove-each", "repeat") and toks[i].lower() in SYSTEM_WORDS:
            toks[i] = "v"
    return toks


SYSTEM_WORDS = set()
ALL_LINES = []


def find_system_words(kiv, pool):
    """Fills SYSTEM_WORDS with the words of the pool that have a value at start."""
    words = sorted({t.lower() for t in pool + OPERATORS + CONTROL if is_word(t)})
    names = " ".join('"' + w + '"' for w in words)
    text = f"foreach s [{names}] [if attempt [value? to-word s] [print [{{@}} s]]]\n"
    _, out, _ = run(kiv, text, 60)
    SYSTEM_WORDS.update(line[2:] for line in out.split("\n") if line.startswith("@ "))


def make_batch(programs, pool, rng, size):
    path = rng.choice(sorted(programs))
    lines = programs[path]
    start = rng.randrange(len(lines))
    out = []
    for toks in lines[start:start + size]:
        if rng.random() < 0.75:
            text = mutate_line(toks, pool, rng)
        else:
            text = " ".join(balance(spare_system_words(toks)))
        out.append(f"try [{text}]")
    return path, out


SANITIZER = re.compile(r"AddressSanitizer|runtime error:|LeakSanitizer|UndefinedBehaviorSanitizer")
INTERNAL = re.compile(r"\*\*\* Internal Error: (?!stack overflow|block or paren series is too deep"
                      r"|circular reference not allowed"
                      r"|reserved for future use|feature not available|.* not supported on your system"
                      r"|contains Kiv/System code|routines require compilation|not enough memory"
                      # make error! [...] starting with no word, or an error
                      # whose type or id was set to no catalogue entry
                      r"|invalid error object field value:"
                      r'|"IS" is DEPRECATED)')
LOCATION = re.compile(r"^\*\*\* (Where|Near ):")
BAD_CHARS = re.compile("[\x00-\x08\x0b-\x1f\x7f\ufffd]")


def run(kiv, text, timeout, stress=False, name="kiv-fuzz"):
    """Runs kiv on text in a fresh folder; the folder has the same path for
    the same name, so that two runs of a batch print the same paths."""
    env = dict(os.environ)
    env["ASAN_OPTIONS"] = ("detect_leaks=0:detect_stack_use_after_return=0:"
                           "handle_segv=0:handle_sigbus=0:handle_sigfpe=0:"
                           "handle_sigill=0:allow_user_segv_handler=1:"
                           "allocator_may_return_null=1")
    env.pop("KIV_GC_STRESS", None)
    if stress:
        env["KIV_GC_STRESS"] = "1"
    with tempfile.TemporaryDirectory(prefix="kiv-fuzz-") as top:
        tmp = os.path.join(top, name)
        os.mkdir(tmp)
        env["XDG_CACHE_HOME"] = tmp
        env["HOME"] = tmp
        try:
            proc = subprocess.run([kiv], input=text.encode("utf-8"), capture_output=True,
                                  cwd=tmp, env=env, timeout=timeout)
        except subprocess.TimeoutExpired:
            return None, "", ""
    out = proc.stdout.decode("utf-8", "replace").replace(top, "$TMP")
    return proc.returncode, out, proc.stderr.decode("utf-8", "replace")


def problems_of(code, out, err):
    found = []
    if code is None:
        return ["timed out"]
    if code < 0:
        found.append(f"killed by signal {-code}")
    elif code != 0:
        found.append(f"exit status {code}")
    if SANITIZER.search(err):
        found.append("sanitizer report")
    if INTERNAL.search(out):
        found.append("internal error: " + INTERNAL.search(out).group(0))
    for line in out.split("\n"):
        if LOCATION.match(line) and BAD_CHARS.search(line):
            found.append("garbage in " + line[:80])
            break
    return found


def check(args, seed, index, programs, pool):
    rng = random.Random(f"{seed}-{index}")
    path, lines = make_batch(programs, pool, rng, args.size)
    text = "\n".join(lines) + "\n"
    code, out, err = run(args.kiv, text, args.timeout)
    found = problems_of(code, out, err)
    if args.stress and not found:
        code2, out2, err2 = run(args.kiv, text, args.timeout * 10, stress=True)
        found = [p + " (under KIV_GC_STRESS=1)" for p in problems_of(code2, out2, err2)]
        if not found and out2 != out:
            a, b = out.split("\n"), out2.split("\n")
            i = next((i for i in range(max(len(a), len(b)))
                      if (a[i:i + 1] or [None]) != (b[i:i + 1] or [None])), 0)
            found.append(f"output differs under KIV_GC_STRESS=1 at line {i + 1}: "
                         f"{(a[i:i + 1] or ['<end>'])[0][:80]!r} vs {(b[i:i + 1] or ['<end>'])[0][:80]!r}")
    if not found:
        return None
    os.makedirs(args.out, exist_ok=True)
    name = os.path.join(args.out, f"fail-{seed}-{index}.kiv")
    with open(name, "w", encoding="utf-8") as fh:
        fh.write(text)
    with open(name + ".note", "w", encoding="utf-8") as fh:
        fh.write(f"from {path}\n" + "\n".join(found) + "\n--- stderr tail\n" + err[-3000:])
    return f"{name}: {'; '.join(found)} (from {os.path.relpath(path)})"


def reduce_file(args, path):
    """Prints a smaller input that fails the same way as the one in path."""
    with open(path, encoding="utf-8") as fh:
        lines = [line for line in fh.read().split("\n") if line]

    def kinds(text):
        code, out, err = run(args.kiv, text, args.timeout, stress=args.stress)
        return {p.split(":")[0].split(" (")[0] for p in problems_of(code, out, err)}

    want = kinds("\n".join(lines) + "\n")
    if not want:
        print("the input runs clean", file=sys.stderr)
        return 1
    print(f"reducing for: {sorted(want)}", file=sys.stderr)

    def failing(ls):
        return bool(kinds("\n".join(ls) + "\n") & want)

    lines = ddmin(lines, failing)
    for i in range(len(lines)):
        toks = tokenize(lines[i])

        def failing_toks(ts, i=i):
            return failing(lines[:i] + [" ".join(balance(ts))] + lines[i + 1:])
        lines[i] = " ".join(balance(ddmin(toks, failing_toks)))
    print("\n".join(lines))
    return 0


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    p.add_argument("--kiv", default="build-san/kiv")
    p.add_argument("--root", default=os.path.join(os.path.dirname(__file__), "..", "lang"))
    p.add_argument("--seed", type=int, default=1)
    p.add_argument("--batches", type=int, default=100)
    p.add_argument("--size", type=int, default=20, help="lines per batch")
    p.add_argument("--timeout", type=float, default=30)
    p.add_argument("--mutations", type=int, default=4, help="most mutations per line")
    p.add_argument("--jobs", type=int, default=os.cpu_count() or 2)
    p.add_argument("--stress", action="store_true",
                   help="also run each batch under KIV_GC_STRESS=1 and compare")
    p.add_argument("--out", default="fuzz-out")
    p.add_argument("--show", action="store_true", help="print the batches, run nothing")
    p.add_argument("--reduce", metavar="FILE", help="shrink a failing input and print it")
    args = p.parse_args()
    args.kiv = os.path.abspath(args.kiv)
    if args.reduce:
        return reduce_file(args, args.reduce)
    MAX_MUTATIONS[0] = args.mutations
    programs, pool = collect(args.root)
    ALL_LINES.extend(t for lines in programs.values() for t in lines)
    find_system_words(args.kiv, pool)
    if args.show:
        for i in range(args.batches):
            rng = random.Random(f"{args.seed}-{i}")
            print("\n".join(make_batch(programs, pool, rng, args.size)[1]))
        return 0
    with concurrent.futures.ThreadPoolExecutor(args.jobs) as pool_x:
        results = list(pool_x.map(lambda i: check(args, args.seed, i, programs, pool),
                                  range(args.batches)))
    failed = [r for r in results if r]
    for r in failed:
        print(r)
    lines = args.batches * args.size
    print(f"{args.batches - len(failed)} of {args.batches} batches clean "
          f"(about {lines} programs, seed {args.seed})")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
