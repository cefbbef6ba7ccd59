#!/usr/bin/env python3
"""Random calls of the natives and the library's functions, to find crashes.

Generates lines like `try [parse/all "ab" [some skip]]`: a function with
random refinements, its arguments drawn from a pool of values of every
datatype with edge values (empty, long and tail series, extreme numbers,
code and rule blocks). Batches of lines go to one kiv process each on
standard input, in a fresh temporary folder. A batch fails on: an exit by
a signal or with a status other than 0, sanitizer text on standard error,
a hang past the timeout, or an "Internal Error" in the output. A failing
batch is cut down to the line that fails (alone if it fails alone, else
with the lines before it) and written to the failures folder.

    tests/fuzz/native-calls.py build-san/kiv --seed 1 --batches 50
    tests/fuzz/native-calls.py build-san/kiv --only parse,find --lines 300

The functions and their refinements are read from the running kiv
(spec-of), so the script follows the library as it changes. The same seed
gives the same lines.
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
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))

# Left out: they block on input or time, end the process, start programs or
# windows, reach the network or a download cache, or touch files by a path
# the pool does not control.
SKIPPED = {
    "wait", "quit", "q", "halt", "ask", "input", "call", "browse", "send",
    "do-thru", "read-thru", "load-thru", "exists-thru?", "path-thru",
    "flip-exe-flag", "extract-boot-args", "routine", "system/lexer/tracer",
    "change-dir", "do-file",
}
# The ones that take a file or URL: they get files of the run's folder
# and never a URL.
FILE_TAKERS = {
    "read", "write", "open", "close", "create", "delete", "rename", "query",
    "make-dir", "save", "load", "do", "dir?", "exists?", "modify", "update",
    "open?", "to-local-file", "clean-path", "split-path", "dirize",
    "normalize-dir", "to-kiv-file", "what-dir", "size?", "suffix?",
}
# The ones that run code or walk a series user code may change: called
# five times as often.
HEAVY = {"apply", "parse", "foreach", "remove-each", "forall", "sort", "do", "reduce", "compose",
         "transcode", "case", "switch", "catch", "collect", "bind", "find",
         "select", "replace", "split", "trim", "change", "insert", "append", "take",
         "copy", "load", "mold", "form", "make", "to", "construct", "extend"}
# Loops get small counts and bodies that end, so a hang is a real one
# (clock/times runs its code as many times as asked).
LOOPS = {"loop", "repeat", "forever", "while", "until", "forall", "foreach",
         "remove-each", "clock"}

SCALARS = [
    "0", "1", "-1", "2", "7", "100", "2147483647", "-2147483648", "65536",
    "0.0", "-0.0", "1.5", "-2.5", "1e308", "-1e308", "1e-308", "4.9e-324",
    "(1.0 / 0.0)", "nan", "0%", "50%", "-100%", "1e300%",
    "1e300", "-1e300", "1.#NaN", "1.#INF", "-1.#INF", "2147483648.0", "-2147483649.0",
    "4294967296.0", "-1e300%", "(to time! 1.#NaN)", "(to time! -1e300)",
    "0x0", "1x2", "-1x-1", "2147483647x-2147483648", "(1, 2)", "(1.5, -0.0)",
    "(1, 2, 3)", "(1e308, -1e308, 0)",
    "1.2.3", "0.0.0", "255.255.255.255", "1.2.3.4.5.6.7.8.9.10.11.12",
    "$0", "$1.50", "-$0.01", "$999999999999999.99", "USD$12.34",
    "1-Jan-2000", "29-Feb-2024/23:59:59+08:00", "31-Dec-9999", "1-Jan-0001",
    "12:00", "0:00", "-1:30", "99999:59:59", "0:00:00.000000001",
    '#"a"', '#"^@"', '#"^(FF)"', '#"^(10FFFF)"', '#"^/"', '#"Z"',
    "true", "false", "none", "()", "#(unset)", "#(none)",
]
SERIES = [
    '""', '"abc"', '"aBc aBC"', '"a^@b"', '"^/x^/"', '"€àé"', '"%41%zz%"',
    '(tail "abc")', '(next "abc")', '(append/dup copy "" "xy" 3000)',
    '(skip "abcdef" 3)',
    "#{}", "#{00FF10}", "(tail #{0102})", "(append/dup copy #{} #{00} 5000)",
    "%fz-file.txt", "%fz-dir/", "%.", '%""', "<a>", "<>", "a@b.c", "@r",
    "#issue", "http://localhost:1/x",
    "[]", "[1 2 3]", "[a b c]", "[a [b [c [d]]]]", "[1 2 3 4 5 6]",
    "(make vector! [1 2 3])", "(make vector! [])", "(make vector! [1.5 -0.0 1e300])",
    "(make vector! [integer! 8 [127 -128 255]])", "(make vector! [float! 32 [1.5 1e300]])",
    '(make vector! [char! 32 [#"a" #"^(10FFFF)"]])', "(make vector! [50% -1e300%])",
    "(tail make vector! [1 2])", "(make vector! 10000)",
    "(tail [1 2 3])", "(next [1 2 3])", "[a: 1 b: 2]", "[[1 2] [3 4]]",
    "(append/dup copy [] 1 3000)", "[none #(none) #(unset)]",
    "(make hash! [a 1 b 2])", "(make hash! [])", "(tail make hash! [1 2])",
    "(to paren! [1 + 2])", "(quote (a b))",
    # Text that the conversions and loaders take apart.
    '"1 + "', '"["', '"#("', '"1x"', '"{"', '"%"', '"$"', '"a/b:"', '"1e400"', '"-"',
    '"#{0"', '"1:2:3:4"', '"99999999999999999999"', '"-2147483649"', '"1.2.3.4.5.6.7.8.9.10.11.12.13"',
    '"1-Feb-2000/25:00"', '"$1e400"', '"#\"^^(110000)\""', '"^^(FFFD)^^(D800)"', '"0x"', '"1x2x3"',
    # Cycles and deep nesting.
    "(also fz-y: copy [1 2] append/only fz-y fz-y)", "(also fz-y: copy [a] insert/only fz-y to paren! fz-y)",
    "(also fz-y: object [a: none] fz-y/a: fz-y)", "(also fz-y: make map! [] put fz-y 'k fz-y)",
    "(also fz-y: copy [] loop 20000 [fz-y: reduce [fz-y]])",
    "(also fz-y: copy [] loop 20000 [fz-y: to paren! reduce [fz-y]])",
    # Reset before each line; code in the pool changes them mid-call.
    "fz-in", "fz-blk", "(tail fz-in)", "(at fz-blk 3)", "(next fz-in)",
]
WORDS = [
    "'fz-a", "'fz-b", "'self", "(quote 'fz-a)", "(to set-word! 'fz-a)",
    "(to get-word! 'fz-a)", "/fz-ref", "'fz-a/fz-b", "(quote fz-a/fz-b:)",
    "(quote :fz-a/fz-b)", "(quote 'fz-a/1)", "(to path! [])", "'+",
    "(first [fz-a:])",
]
COMPOUND = [
    "(charset \"abc\")", "(make bitset! 0)", "(complement charset \"a\")",
    "(make bitset! #{FF00})", "(make bitset! 100000)",
    "#[a: 1 b: \"x\"]", "(make map! [])", "(make map! [1 2 \"a\" [b]])",
    "(object [a: 1 b: func [x] [x]])", "(make object! [])",
    "(context [self2: none f: does [1]])",
    "(make error! \"boom\")", "(try [1 / 0])",
    "(make typeset! [integer! string!])", "any-type!", "integer!", "block!",
    "string!", "object!", "function!", "none!", "unset!", "series!",
    "(make image! 0x0)", "(make image! 2x2)", "(make image! [3x1 #{FF0000 00FF00 0000FF}])",
    "(make image! [2x2 255.0.0.128])", "(tail make image! 2x3)", "(make image! 1x1000)",
    "(make event! [])", "(make event! [type: 'click key: #\"a\" offset: 3x4])",
    "(make event! [type: 'key-down flags: [shift control away] picked: -2147483648])",
    "(make event! [type: 'over face: make face! [type: 'base size: 10x10]])",
    "(make face! [type: 'base size: 10x10])", "(make face! [type: 'window pane: []])",
    "(make face! [type: 'field text: \"ab\" size: -1x-1])",
    "(layout [button \"a\" field text \"t\"])", "(layout [])",
    "[button \"a\" [unview] field 0x0 text \"t\" 100x-5 panel [base] return below check]",
    "[text 1x1 font-size 0 base red draw [line 0x0 5x5] across group-box [] on-click [1 / 0]]",
    "[line 0x0 10x10 box 1x1 -5x-5 circle 5x5 -1 text 0x0 \"x\" pen red fill-pen none]",
    "[scale 0 0 rotate 1e308 translate 2147483647x2147483647 shape [move 0x0 line 1x1]]",
    ":print", ":append", ":first", ":parse", "(func [x] [x])",
    "(func [/r a] [a])", "(does [1])", "(make op! :add)", ":+",
    "(func [x [integer!] y] [reduce [x y]])",
    # Callbacks: sort's comparators, parse's, the lexer's and do's tracers.
    "(func [a b] [clear fz-blk true])", "(func [a b] [1 / 0])", "(func [a b] [throw 1])",
    "(func [a b] [clear fz-in a < b])", "(func [a b] [none])",
    "(func [e m r i s] [clear head i true])", "(func [e m r i s] [throw 1])",
    "(func [e m r i s] [fz-in: none false])", "(func [e m r i s] [clear fz-blk true])",
    "(func [e i t l k] [clear head i true])", "(func [e i t l k] [1 / 0])",
    "(func [e i t l k] [append i \"x\" false])",
    "(func [e c o v r f] [clear fz-blk true])", "(func [e c o v r f] [throw 1])",
    "(func [e c o v r f] [if block? c [clear c] true])",
]
CODE = [
    "[1]", "[break]", "[break/return 5]", "[continue]", "[return 1]",
    "[exit]", "[throw 1]", "[throw/name 1 'fz]", "[1 / 0]", "[fz-a: 1]",
    "[make error! \"x\"]", "[cause-error 'script 'invalid-arg [1]]",
    "[true]", "[false]", "[none]", "[]", "[1 + 2 * 3]", "[(1) (2)]",
    "[print 1]", "[do [break]]", "[loop 2 [break]]",
    "[if true [break]]", "[reduce [break]]", "[try [throw 1]]",
    "[catch [throw 2]]", "[func [] [return 1]]", "[a b c]", "[1 2 3]",
    "[append [] 1]", "[compose [(1) (break)]]",
    "[clear fz-in]", "[clear fz-blk]", "[append fz-blk 1]", "[remove fz-in]",
    # Directives for do/expand and the preprocessor.
    "[#if true [1]]", "[#if]", "[#either true]", "[#macro]", "[#macro fz-m: func [] [1] fz-m]",
    "[#macro [integer!] func [s e] [e] 1 2]", "[#macro [skip] func [s e] [clear s e] 1]",
    "[#macro [integer!] func [s e] [s] 1]", "[#do [fz-b: 2]]", "[#include %fz-file.txt]",
    "[#switch 1 [1 [2]]]", "[#case [true [1]]]", "[#local [#macro fz-m: func [] [1] fz-m]]",
    "[#reset]", "[#process off 1 #process on]", "[#macro fz-m: func [x] [x] fz-m]",
    "[take/last fz-blk]", "[fz-blk: none]", "[if 1 = random 50 [recycle]]", "[clear head fz-in 1]",
    "[remove/part fz-blk 3 true]", "[poke fz-in 1 #\"q\" false]", "[change fz-in \"xyz\"]",
]
RULES = [
    "[skip]", "[some skip]", "[to end]", "[thru \"b\"]", "[any [skip]]",
    "[copy fz-a to end]", "[collect [keep skip]]", "[collect some [keep skip]]",
    "[ahead \"a\" skip]", "[opt \"a\" end]", "[into [some skip]]",
    "[set fz-a integer!]", "[1 2 \"a\"]", "[while [skip]]",
    "[\"a\" | \"b\" | end]", "[change skip \"x\"]", "[insert \"x\" to end]",
    "[remove skip]", "[if (true) skip]", "[fail]", "[reject]", "[break]",
    "[not \"x\" skip]", "[fz-a: skip :fz-a]", "[to [\"b\" | end]]",
    "[some [\"a\" (fz-b: 1)]]", "[0 2147483647 skip]", "[-1 skip]",
    "[2147483647 skip]", "[quote 1]", "[none]", "[end skip]",
    "[collect into fz-c [keep skip]]", "[keep skip]", "[copy fz-a]",
    "[thru end]", "[some [to end]]", "[any [to end]]",
    "[(break)]", "[(throw 1)]", "[(return 1)]", "[set]", "[to]", "[into]",
    "[change]", "[skip | ]", "[[[[[skip]]]]]", "[ahead]", "[string! | skip]",
    "[#\"a\" - #\"z\"]", "[charset \"ab\"]", "[integer! integer!]",
    "[collect set fz-a keep skip]", "[pick skip]", "[any [end]]",
    "[some [skip (clear fz-in)]]", "[some [skip (clear fz-blk)]]",
    "[any [skip (remove fz-in)]]", "[some [(insert fz-in \"xyz\") skip]]",
    "[to end (clear fz-in) skip]", "[copy fz-a some skip (clear fz-in)]",
    "[collect some [keep skip (clear fz-blk)]]", "[some [remove skip] (append fz-in \"ab\")]",
    "[some [fz-a: skip (clear fz-in) :fz-a skip]]", "[skip (fz-in: none) skip]",
    "[collect some [keep skip (remove fz-in)]]", "[some [change skip \"abc\" (clear fz-in)]]",
    "[some [skip (recycle)]]", "[some [skip (append/dup fz-blk 1 50)] to end]",
]
CASES = [
    "[1 [2] 3 [4]]", "[true [1] false [2]]", "[a [1] default [2]]",
    "[1]", "[[1] 2]", "[1 2 [3]]", "[#\"a\" [1] \"a\" [2]]",
    "[1 [break] 2 [return 3]]", "[none [] true]", "[true]",
]

VALUES = SCALARS + SERIES + WORDS + COMPOUND + CODE + RULES + CASES
SAFE_FOR_FILES = [v for v in VALUES if not v.startswith("http")]
SMALL = ["0", "1", "2", "-1", "3", "1.5", "0.0", "-2147483648", "none"]
ENDING = ["[break]", "[break/return 1]", "[throw 1]", "[return 1]", "[exit]",
          "[1 / 0]", "[do [break]]", "[if true [break]]", "[true]",
          "[make error! \"x\"]", "[cause-error 'user 'message [\"m\"]]"]


def spec_tokens(text):
    """The spec's top-level tokens: words, refinements and others, with
    strings and nested blocks left out."""
    tokens, depth, i = [], 0, 0
    while i < len(text):
        c = text[i]
        if c == '"':
            i += 1
            while i < len(text) and text[i] != '"':
                i += 2 if text[i] == "^" else 1
            i += 1
        elif c == "{":
            level = 1
            i += 1
            while i < len(text) and level:
                if text[i] == "^":
                    i += 1
                elif text[i] == "{":
                    level += 1
                elif text[i] == "}":
                    level -= 1
                i += 1
        elif c in "[(":
            if depth == 1:
                start, level = i, 0
                while i < len(text):
                    if text[i] == '"':
                        i += 1
                        while i < len(text) and text[i] != '"':
                            i += 2 if text[i] == "^" else 1
                    elif text[i] in "[(":
                        level += 1
                    elif text[i] in "])":
                        level -= 1
                        if level == 0:
                            break
                    i += 1
                tokens.append(text[start:i + 1])
                i += 1
                continue
            depth += 1
            i += 1
        elif c in "])":
            depth -= 1
            i += 1
        elif c.isspace():
            i += 1
        else:
            j = i
            while j < len(text) and not text[j].isspace() and text[j] not in '[]()"{':
                j += 1
            if depth == 1:
                tokens.append(text[i:j])
            i = j
    return tokens


def parse_spec(text):
    """([argument], {refinement: [argument]}) of a molded spec; an argument
    is (mode, type names): mode "'" or ":" for a literal or get argument,
    "" for an evaluated one; no type names when it takes any."""
    args, refs, current, last, skip_block = [], {}, None, None, False
    for tok in spec_tokens(text):
        if tok.startswith("["):
            if last is not None and not skip_block:
                inner = tok[1:-1]
                while re.search(r"\[[^\[\]]*\]", inner):
                    inner = re.sub(r"\[[^\[\]]*\]", "", inner)
                last[1].extend(re.findall(r"[\w?~-]+!", inner))
            skip_block = False
            continue
        if tok.endswith(":"):
            skip_block = True
            continue
        skip_block = False
        if tok.startswith("/"):
            current = tok[1:]
            refs[current] = []
            last = None
        elif re.match(r"^['\:]?[^\d'\":/#$%@<]", tok):
            last = (tok[0] if tok[0] in "':" else "", [])
            (args if current is None else refs[current]).append(last)
    return args, refs


def names_from_sources():
    names = []
    with open(os.path.join(ROOT, "runtime/evaluator/natives.h")) as f:
        names += re.findall(r'X\(\d+, \w+, "([^"]+)", 1\)', f.read())
    lib = os.path.join(ROOT, "library")
    pat = re.compile(r"^([^\s;\[\]/][^\s:]*): *(func|function|does|has|make native!|"
                     r"make action!|make op!)\b", re.M)
    for name in sorted(os.listdir(lib)):
        if name.endswith(".kiv"):
            with open(os.path.join(lib, name), encoding="utf-8") as f:
                names += [m.group(1) for m in pat.finditer(f.read())]
    seen, out = set(), []
    for n in names:
        if n not in seen and n not in SKIPPED:
            seen.add(n)
            out.append(n)
    return out


def run_query(kiv, lines):
    proc = subprocess.run([kiv], input="\n".join(lines).encode() + b"\n",
                          capture_output=True, timeout=300)
    return proc.stdout.decode("utf-8", "replace").split("\n")


def read_specs(kiv, names):
    lines = [f'prin "@@{n} " print mold/flat spec-of get/any quote {n}' for n in names]
    specs = {}
    for line in run_query(kiv, lines):
        m = re.match(r"^@@(\S+) (\[.*)$", line)
        if m:
            specs[m.group(1)] = parse_spec(m.group(2))
    return specs


class Pool:
    """The values by datatype, and the datatypes each type name of the
    specs stands for, both read from kiv."""

    def __init__(self, kiv, specs):
        lines = [f'prin "@@{i} " print mold type? {v}' for i, v in enumerate(VALUES)]
        self.by_type = {}
        for line in run_query(kiv, ['fz-a: 1 fz-b: [x] fz-in: "a" fz-blk: [1]'] + lines):
            m = re.match(r"^@@(\d+) (\S+)$", line)
            if m:
                self.by_type.setdefault(m.group(2), []).append(VALUES[int(m.group(1))])
        names = sorted({t for args, refs in specs.values()
                        for arg in args + [a for r in refs.values() for a in r]
                        for t in arg[1]})
        lines = [f'prin "@@{t} " print mold/flat either typeset? {t} [to block! {t}] [reduce [{t}]]'
                 for t in names]
        self.expand = {}
        for line in run_query(kiv, lines):
            m = re.match(r"^@@(\S+) \[(.*)\]$", line)
            if m:
                self.expand[m.group(1)] = m.group(2).split()
        self.cache = {}

    def fitting(self, types):
        key = tuple(types)
        if key not in self.cache:
            out = []
            for t in sorted({x for t in types for x in self.expand.get(t, [t])}):
                out += self.by_type.get(t, [])
            self.cache[key] = out
        return self.cache[key]


LITERAL_ARGS = ["fz-a", "fz-b", "[fz-a fz-b]", "[fz-a]", "[]", "fz-a/fz-b", "1",
                "(1 + 2)", "'fz-a", ":fz-a", "fz-a:", "[1 2]", "fz-a/1", "[fz-a 1]",
                "fz-c", "%fz-file.txt"]


def pick_arg(rnd, name, arg, pool):
    mode, types = arg
    if mode and rnd.random() < 0.9:
        return rnd.choice(LITERAL_ARGS)
    if name in LOOPS:
        return rnd.choice(SMALL + ENDING + SERIES[:12] + CODE[-10:] + ["'fz-a", "[fz-a fz-b]",
                                                                          "fz-in", "fz-blk"])
    if name in FILE_TAKERS and rnd.random() < 0.3:
        return rnd.choice(["%fz-file.txt", "%fz-dir/", "%.", "%fz-new", '%""', "%fz-dir/x"])
    fit = pool.fitting(types) if types else []
    if fit and rnd.random() < 0.8:
        value = rnd.choice(fit)
    else:
        value = rnd.choice(VALUES)
    if name in FILE_TAKERS and value.startswith("http"):
        value = "%fz-file.txt"
    if types and "block!" in types and len(types) <= 2 and rnd.random() < 0.5:
        value = rnd.choice(CODE + RULES + CASES)
    return value


# The functions that set the words their first argument names: they get
# the fuzzer's own words, so the console's words keep their values.
WORD_SETTERS = {"set", "unset", "foreach", "remove-each", "repeat", "forall"}
OWN_WORDS = ["'fz-a", "[fz-a fz-b]", "[fz-a]", "'fz-a/fz-b", "(quote fz-a:)", "[fz-a 1]",
             "[]", "(make object! [fz-x: 1])", "(to path! [])", "[fz-a fz-b fz-c fz-d]",
             "(quote :fz-b)", "[fz-a: 'fz-b /fz-c #fz-d]"]


PARSE_ATOMS = ["skip", '"a"', '#"b"', "integer!", "string!", "end", "none", "fz-a:", ":fz-a",
               '"ab"', "block!", "1", "(fz-b: 1)", "(clear fz-in)", "(clear fz-blk)", "(remove fz-blk)", "fail", "reject", "break", "accept",
               "[]", "|", "(recycle)", "quote 1", "quote [2]",
               "if (true)", "if (false)", "charset", '#{01}', "(fz-in: tail fz-in)", "any-type!"]
# Without while and counts to the maximum, which loop for ever on a rule
# that stays put, as they should; insertions only outside any loop.
PARSE_UNARY = ["some", "any", "opt", "not", "ahead", "copy fz-a", "set fz-a", "keep",
               "keep pick", "collect", "collect into fz-c", "collect after fz-blk", "collect set fz-a",
               "remove", "into", "to", "thru", "2", "0 3", "-1", "case", "no-case"]
PARSE_TOP = ['insert "x"', "insert fz-blk", "insert only [1]", 'while [skip (fz-b: 1)]',
             '1 2147483647 skip', 'change skip "zz"', '(insert fz-in "xy")', "change [] [9]",
             'change [skip skip] (1 + 1)']
PARSE_INPUTS = ["fz-in", "fz-blk", '"aab"', '[1 "a" [2 3] b]', "#{0102}", "(tail fz-in)",
                '""', "[]", "(next fz-blk)", '"ab^@ab"', "[[1] [[2]]]"]


def parse_rule(rnd, depth=0):
    """A random parse rule block."""
    items = []
    for _ in range(rnd.randint(0, 4)):
        if depth < 3 and rnd.random() < 0.5:
            op = rnd.choice(PARSE_UNARY)
            sub = parse_rule(rnd, depth + 1) if rnd.random() < 0.6 else rnd.choice(PARSE_ATOMS)
            items.append(f"{op} {sub}")
            if op == "change":
                items.append(rnd.choice(['"z"', "(1 + 1)", "[9]", "fz-in"]))
        elif depth == 0 and rnd.random() < 0.2:
            items.append(rnd.choice(PARSE_TOP))
        else:
            items.append(rnd.choice(PARSE_ATOMS))
    return "[" + " ".join(items) + "]"


def make_parse_line(rnd):
    refs = rnd.choice(["", "", "/case", "/part", "/trace", "/case/part"])
    argv = [rnd.choice(PARSE_INPUTS), parse_rule(rnd)]
    if "part" in refs:
        argv.append(rnd.choice(["2", "0", "-1", "2147483647", "fz-in", "(next fz-in)", "(tail fz-blk)"]))
    if "trace" in refs:
        argv.append(rnd.choice(["(func [e m r i s] [true])", "(func [e m r i s] [clear head i true])",
                                "(func [e m r i s] [clear s true])", "(func [e m r i s] [throw 1])",
                                "(func [e m r i s] [fz-c: s true])"]))
    return f"parse{refs} {' '.join(argv)}"


def nested_call(rnd, names, specs, pool, apply=False):
    """A call of a random function in parens, its value an argument; or an
    apply of one, its arguments and refinements in a block."""
    name = rnd.choice(names)
    if name in LOOPS or name in WORD_SETTERS or name in FILE_TAKERS or name in SKIPPED:
        return "(copy fz-in)"
    args, refs = specs[name]
    argv = [pick_arg(rnd, name, a, pool) for a in args]
    if not apply:
        return f"(try [{name} {' '.join(argv)}])"
    how = rnd.choice(["apply", "apply", "apply/all", "apply/safer", "apply/all/safer"])
    argv = argv[:rnd.randint(max(0, len(argv) - 1), len(argv))]
    for ref in sorted(r for r in refs if r != "local"):
        if "all" in how:
            argv.append(rnd.choice(["true", "false", "none", "1"]))
            argv += [pick_arg(rnd, name, a, pool) for a in refs[ref]]
        elif rnd.random() < 0.3:
            argv += [f"/{ref}", rnd.choice(["true", "false", "none", "()"])]
            argv += [pick_arg(rnd, name, a, pool) for a in refs[ref]]
    target = rnd.choice([f":{name}", f"'{name}"]) if re.match(r"^[a-z]", name) else f":{name}"
    return f"{how} {target} [{' '.join(argv)}]"


def make_line(rnd, name, spec, pool, nest=None):
    args, refs = spec
    path = [name]
    argv = [pick_arg(rnd, name, a, pool) for a in args]
    if nest and name not in LOOPS and name not in WORD_SETTERS and name not in FILE_TAKERS:
        for i, a in enumerate(args):
            if not a[0] and rnd.random() < 0.15:
                argv[i] = nest()
    if name == "apply" and nest and rnd.random() < 0.7:
        return f'fz-a: 1 fz-in: copy "abcdef" fz-blk: copy [1 2 3 4 5 6] try [{nest(apply=True)}]'
    if name == "parse" and rnd.random() < 0.7:
        return f'fz-a: 1 fz-in: copy "abcdef" fz-blk: copy [1 2 3 4 5 6] try [{make_parse_line(rnd)}]'
    if name in WORD_SETTERS and argv:
        own = rnd.choice(OWN_WORDS)
        argv[0] = own.strip("'") if args[0][0] and own.startswith("'") else own
    refs = {r: a for r, a in refs.items() if r != "local"}
    if refs and re.match(r"^[a-zA-Z]", name):  # operators have no path form
        for ref in rnd.sample(sorted(refs), min(len(refs), rnd.choice([0, 0, 1, 1, 2, 3]))):
            path.append(ref)
            argv += [pick_arg(rnd, name, a, pool) for a in refs[ref]]
    if name == "while" and argv:
        argv[0] = rnd.choice(["[false]", "[none]", "[break]", "[throw 1]"])
    if name == "forever" and argv:
        argv[0] = rnd.choice(ENDING[:-3] + ["[1 / 0]"])
    if name == "until" and argv:
        argv[0] = rnd.choice(ENDING)
    call = f"{'/'.join(path)} {' '.join(argv)}".rstrip()
    return f'fz-a: 1 fz-in: copy "abcdef" fz-blk: copy [1 2 3 4 5 6] try [{call}]'


PRELUDE = [
    "fz-a: 1 fz-b: [x] fz-c: copy []",
    'write %fz-file.txt "hello^/world" make-dir %fz-dir/',
]


# Internal errors that are sound answers: resource limits met on purpose.
EXPECTED_INTERNAL = re.compile(r"not enough memory|stack overflow|too deep|circular reference|"
                               r"internal limit reached|not supported on your system|"
                               r"invalid error object field value|"
                               r'"IS" is DEPRECATED')
NOT_DONE = "reserved for future use"


def run_batch(kiv, lines, timeout):
    """(problem or None, stdout, stderr) of one run of the lines."""
    body = []
    for i, line in enumerate(lines):
        body.append(f'print "@@ {i}"')
        body.append(line)
    data = "\n".join(PRELUDE + body).encode("utf-8") + b"\n"
    env = dict(os.environ)
    env.setdefault("ASAN_OPTIONS", "detect_leaks=0:detect_stack_use_after_return=0:"
                   "handle_segv=0:handle_sigbus=0:handle_sigfpe=0:handle_sigill=0:"
                   "allow_user_segv_handler=1:allocator_may_return_null=1")
    with tempfile.TemporaryDirectory(prefix="kiv-fz-") as tmp:
        env["XDG_CACHE_HOME"] = tmp
        env["HOME"] = tmp
        try:
            proc = subprocess.run([kiv], input=data, capture_output=True, cwd=tmp,
                                  env=env, timeout=timeout)
        except subprocess.TimeoutExpired as e:
            out = (e.stdout or b"").decode("utf-8", "replace")
            return "hang", out, (e.stderr or b"").decode("utf-8", "replace")
    out = proc.stdout.decode("utf-8", "replace")
    err = proc.stderr.decode("utf-8", "replace")
    if proc.returncode < 0:
        return f"signal {-proc.returncode}", out, err
    if "AddressSanitizer" in err or "runtime error:" in err or "LeakSanitizer" in err:
        return "sanitizer", out, err
    if proc.returncode != 0:
        return f"exit status {proc.returncode}", out, err
    return None, out, err


def internal_errors(out):
    """[(line index, message)] of the internal errors in a run's output,
    the expected ones left out."""
    found, current = [], 0
    for line in out.split("\n"):
        m = re.match(r"^@@ (\d+)$", line)
        if m:
            current = int(m.group(1))
        elif line.startswith("*** Internal Error") and not EXPECTED_INTERNAL.search(line):
            found.append((current, line))
    return found


def last_marker(out):
    marks = re.findall(r"^@@ (\d+)$", out, re.M)
    return int(marks[-1]) if marks else 0


def reduce_failure(kiv, lines, at, timeout):
    """(kind, lines) of the smallest failing input found ending at line `at`."""
    alone, _, _ = run_batch(kiv, [lines[at]], timeout)
    if alone:
        return alone, [lines[at]]
    # Needs what came before: drop earlier lines while it still fails.
    keep = lines[:at + 1]
    step = len(keep) // 2
    while step >= 1:
        i = 0
        while i < len(keep) - 1:
            trial = keep[:i] + keep[i + step:] if i + step < len(keep) else None
            if trial and run_batch(kiv, trial, timeout)[0]:
                keep = trial
            else:
                i += step
        step //= 2
    problem = run_batch(kiv, keep, timeout)[0]
    return problem or "flaky", keep


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("kiv")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--batches", type=int, default=20)
    ap.add_argument("--lines", type=int, default=200, help="lines per batch")
    ap.add_argument("--jobs", type=int, default=4, help="kiv processes at a time")
    ap.add_argument("--timeout", type=float, default=20)
    ap.add_argument("--only", help="comma-separated function names")
    ap.add_argument("--focus", help="comma-separated names that get half the lines")
    ap.add_argument("--failures", default="fuzz-failures",
                    help="folder for the reduced failing inputs")
    ap.add_argument("--no-reduce", action="store_true")
    ap.add_argument("--print", action="store_true", help="print the lines, run nothing")
    opts = ap.parse_args()
    kiv = os.path.abspath(opts.kiv)
    names = opts.only.split(",") if opts.only else names_from_sources()
    specs = read_specs(kiv, names)
    missing = [n for n in names if n not in specs]
    if missing:
        print("no spec (left out):", " ".join(missing), file=sys.stderr)
    names = [n for n in names if n in specs]
    names += [n for n in names if n in HEAVY] * 4
    if opts.focus:
        names += [n for n in opts.focus.split(",") if n in specs] * (len(names) // 2)
    pool = Pool(kiv, specs)
    rnd = random.Random(opts.seed)
    nest = lambda apply=False: nested_call(rnd, names, specs, pool, apply)  # noqa: E731
    batches = [[make_line(rnd, n, specs[n], pool, nest) for n in
                (rnd.choice(names) for _ in range(opts.lines))] for _ in range(opts.batches)]
    if opts.print:
        print("\n".join(line for batch in batches for line in batch))
        return 0
    with concurrent.futures.ThreadPoolExecutor(opts.jobs) as workers:
        results = list(workers.map(lambda b: run_batch(kiv, b, opts.timeout), batches))
    total = clean = 0
    found, not_done = {}, {}
    for number, (lines, (problem, out, err)) in enumerate(zip(batches, results)):
        total += len(lines)
        internal = internal_errors(out)
        for at, message in internal:
            target = not_done if NOT_DONE in message else found
            target.setdefault(lines[at], message)
        bad = {at for at, message in internal if NOT_DONE not in message}
        if not problem:
            clean += len(lines) - len(bad)
            continue
        at = last_marker(out)
        clean += at - len([b for b in bad if b < at])
        tail = (err.strip() or out.strip()).split("\n")[-3:]
        print(f"batch {number}: {problem} at line {at}: {lines[at]}\n  " + "\n  ".join(tail))
        if opts.no_reduce:
            found.setdefault(lines[at], problem)
            continue
        kind, case = reduce_failure(kiv, lines, at, opts.timeout)
        if case[-1] in found:
            continue
        found[case[-1]] = kind
        os.makedirs(opts.failures, exist_ok=True)
        path = os.path.join(opts.failures, f"seed{opts.seed}-batch{number}.kiv")
        with open(path, "w", encoding="utf-8") as f:
            f.write("\n".join(PRELUDE + case) + "\n")
        print(f"  reduced ({kind}, {len(case)} lines): {path}")
    for line, message in found.items():
        if message.startswith("***"):
            print(f"internal error: {line}\n  {message}")
    for line, message in not_done.items():
        print(f"not done: {line}")
    print(f"{total} calls, {clean} ran clean; {len(found)} distinct failures, "
          f"{len(not_done)} calls answered not-done")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
