#!/usr/bin/env python3
"""Differential fuzzer for the native code of function bodies.

Generates random programs that define small functions, some inside the
subset that gets native code (integer arguments and literals, + - * and
comparisons near the 32- and 64-bit edges, either/if/unless with literal
blocks, parens (also as an operator's right operand), calls of other
functions and of themselves, calls of add, subtract, multiply and
remainder with zero, -1 and out-of-range operands, return, exit, set-words
of arguments) and some just outside it (locals, refinements,
loops, other datatypes), calls each many times so that its code is made
and runs, and mixes in what must hand over to the interpreter: bodies
changed through body-of between calls and by a callee mid-expression, `+`,
`either`, `remainder`, `add`, a function's own word or a callee redefined
mid-expression, a loop's body changed by a callee in a later round,
tracing switched on, errors raised inside bodies, break/continue/return
through loops, and deep recursion up to the stack limit.

Each program is piped to kiv twice, with native code on and with
KIV_NATIVE_CODE=0, and the two runs must print the same output and end
with the same status; a sanitizer report on standard error or a hang also
fails. A failing program is written to OUT/fail-SEED-N.kiv and cut down
(whole lines, then the lines after the first difference) to a smaller one
printed with the failure.

    tests/fuzz/native-code.py --kiv build/kiv --seed 1 --count 500
    tests/fuzz/native-code.py --kiv build-san/kiv --gc-stress --count 50
    tests/fuzz/native-code.py --kiv build/kiv --reduce fuzz-out/fail-1-7.kiv
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

SANITIZER = re.compile(r"AddressSanitizer|UndefinedBehaviorSanitizer|runtime error:|LeakSanitizer")

INTS = ["0", "1", "2", "3", "-1", "-2", "7", "10", "100", "65536", "46341", "-46341",
        "2147483647", "-2147483648", "2147483646", "-2147483647", "1073741824",
        "9223372036854775807", "-9223372036854775808", "4294967296"]
OTHERS = ["1.5", "-0.5", "2147483648.0", "1e300", '"a"', "none", "true", "false",
          "#\"x\"", "[1 2]", "'w", "1x2", "$1", "50%"]
OPS = ["+", "-", "*"]
ACTIONS = ["add", "subtract", "multiply", "remainder", "remainder"]
CMPS = ["<", ">", "=", "<>", "<=", ">="]
ARGS = ["a", "b", "c"]
GLOBALS = ["g1", "g2", "g3", "k"]


class Gen:
    def __init__(self, rng):
        self.rng = rng
        self.names = []      # functions defined so far: (name, arity, kind)
        self.texts = {}      # their definitions, by name
        self.tight = []      # those kept inside the compiled subset

    def lit(self):
        r = self.rng.random()
        if r < 0.75:
            return self.rng.choice(INTS[:12])
        if r < 0.95:
            return self.rng.choice(INTS)
        return self.rng.choice(OTHERS)

    def arg_value(self):
        return self.rng.choice(INTS) if self.rng.random() < 0.85 else self.rng.choice(OTHERS)

    def term(self, fn, depth):
        rng = self.rng
        r = rng.random()
        arity = fn[1]
        if r < 0.3:
            return rng.choice(ARGS[:arity])
        if r < 0.5 or depth > 2:
            return self.lit()
        if r < 0.6:
            return "(" + self.expr(fn, depth + 1) + ")"
        if r < 0.7:
            return "(" + self.conditional(fn, depth + 1, valued=True) + ")"
        if r < 0.82:
            callees = [f for f in self.names if f[0] != fn[0]]
            if self.names and rng.random() < 0.15:
                return "(" + self.mischief() + " " + self.expr(fn, depth + 2) + ")"
            if callees:
                g = rng.choice(callees)
                return "(" + g[0] + " " + " ".join(self.expr(fn, depth + 2) for _ in range(g[1])) + ")"
            return self.lit()
        if r < 0.95:
            return self.action(fn, depth)
        return rng.choice(ARGS[:arity])

    def action(self, fn, depth):
        """A call of an integer action; its arguments mostly arguments and
        small literals (so that the call mostly stays on its fast path),
        with an operator now and then, sometimes anything."""
        rng = self.rng
        def small():
            return rng.choice(INTS[:8]) if rng.random() < 0.85 else self.lit()
        def operand():
            if rng.random() < 0.1:
                return self.expr(fn, depth + 2)
            out = small() if rng.random() < 0.4 else rng.choice(ARGS[:fn[1]])
            if rng.random() < 0.25:
                out += " " + rng.choice(OPS) + " " + (small() if rng.random() < 0.5 else rng.choice(ARGS[:fn[1]]))
            return out
        return rng.choice(ACTIONS) + " " + operand() + " " + operand()

    def expr(self, fn, depth=0):
        out = self.term(fn, depth)
        for _ in range(self.rng.choice([0, 0, 1, 1, 2, 3])):
            out += " " + self.rng.choice(OPS) + " " + self.term(fn, depth + 1)
        if self.rng.random() < 0.05:
            out += " " + self.rng.choice(CMPS) + " " + self.term(fn, depth + 1)
        return out

    def cond(self, fn, depth):
        r = self.rng.random()
        if r < 0.1:
            return self.rng.choice(["true", "false", "none"])
        return self.expr(fn, depth + 1) + " " + self.rng.choice(CMPS) + " " + self.term(fn, depth + 1)

    def branch(self, fn, depth):
        r = self.rng.random()
        if r < 0.1:
            return "[return " + self.expr(fn, depth + 1) + "]"
        if r < 0.13:
            return "[exit]"
        if r < 0.16:
            return "[]"
        return "[" + self.expr(fn, depth + 1) + "]"

    def conditional(self, fn, depth, valued=False):
        r = self.rng.random()
        if r < 0.6 or valued:
            return "either " + self.cond(fn, depth) + " " + self.branch(fn, depth) + " " + self.branch(fn, depth)
        word = "if" if r < 0.85 else "unless"
        return word + " " + self.cond(fn, depth) + " " + self.branch(fn, depth)

    def statement(self, fn):
        rng = self.rng
        r = rng.random()
        if r < 0.4:
            return self.expr(fn)
        if r < 0.6:
            return self.conditional(fn, 0)
        if r < 0.72:
            return rng.choice(ARGS[:fn[1]]) + ": " + self.expr(fn)
        if r < 0.78:
            return "return " + self.expr(fn)
        if r < 0.8:
            return "exit"
        if r < 0.86:
            body = rng.choice(["if i = 2 [break]", "if i = 2 [continue]", "if i = 2 [return i * 10]",
                               "if i = 3 [break/return " + self.lit() + "]", "a: a + i"])
            return "repeat i 4 [" + body + "] " + self.expr(fn)
        return self.conditional(fn, 0)

    def tight_expr(self, fn, depth=0):
        """An expression kept inside the compiled subset: arguments, small
        literals, operators, action calls, parens and calls of the functions
        made so."""
        rng = self.rng
        def term():
            r = rng.random()
            if r < 0.35 or depth > 1:
                return rng.choice(ARGS[:fn[1]]) if r < 0.2 or depth > 1 else rng.choice(INTS[:8])
            if r < 0.6:
                return self.action(fn, 2)
            if r < 0.75:
                return "(" + self.tight_expr(fn, depth + 1) + ")"
            if self.tight:
                g = rng.choice(self.tight)
                return g[0] + " " + " ".join(rng.choice(ARGS[:fn[1]] + INTS[:4]) for _ in range(g[1]))
            return rng.choice(INTS[:8])
        out = term()
        for _ in range(rng.choice([0, 1, 1, 2])):
            out += " " + rng.choice(OPS) + " " + term()
        return out

    def tight_function(self, name, arity):
        """A function inside the subset: it gets native code, so changes of
        the actions, operators and words it uses meet that code."""
        rng = self.rng
        fn = (name, arity)
        spec = " ".join(ARGS[:arity])
        rest = " ".join(rng.choice(ARGS[:arity]) for _ in range(arity - 1))
        rec = f"({name} a - 1{' ' + rest if rest else ''})"
        # What `return` takes: arguments and literals with operators.
        plain = rng.choice(ARGS[:arity]) + " " + rng.choice(OPS) + " " + rng.choice(INTS[:8])
        r = rng.random()
        if r < 0.4:
            body = (f"either a < 1 [{self.tight_expr(fn)}] "
                    f"[{rec} {rng.choice(OPS)} {self.tight_expr(fn, 1)}]")
        elif r < 0.6:
            body = f"unless a > 0 [return {plain}] {rec} {rng.choice(OPS)} {self.tight_expr(fn, 1)}"
        elif r < 0.8:
            body = (f"if 0 = remainder a {rng.choice(['2', '3', '0', '-1'])} [return {plain}] "
                    f"{self.tight_expr(fn)}")
        else:
            body = f"{rng.choice(ARGS[:arity])}: {rng.choice(ARGS[:arity])} + 1 {self.tight_expr(fn)}"
        self.names.append(fn)
        self.tight.append(fn)
        self.texts[name] = body
        return f"{name}: func [{spec}] [{body}]"

    def function(self, index):
        rng = self.rng
        name = f"f{index}"
        arity = rng.choice([1, 1, 2, 2, 3])
        kind = rng.random()
        fn = (name, arity)
        spec = " ".join(ARGS[:arity])
        if rng.random() < 0.25:
            return self.tight_function(name, arity)
        if kind < 0.3:
            # Recursion down a counter in the first argument.
            step = rng.choice(["1", "1", "2"])
            base = self.expr(fn)
            rest = " ".join(self.expr(fn, 2) for _ in range(arity - 1))
            rec = f"({name} a - {step}{' ' + rest if rest else ''})"
            body = f"either a < 1 [{base}] [{rec} {rng.choice(OPS)} {self.expr(fn, 1)}]"
            if rng.random() < 0.3:
                body = self.statement(fn) + " " + body
            self.names.append(fn)
            self.texts[name] = body
            return f"{name}: func [{spec}] [{body}]"
        stmts = [self.statement(fn) for _ in range(rng.choice([1, 1, 2, 3]))]
        if kind < 0.4:
            spec += " /local t"
            stmts.insert(0, "t: " + self.expr(fn))
            stmts.append("t " + rng.choice(OPS) + " " + self.expr(fn))
        elif kind < 0.47:
            spec += " /r d"
            stmts.append("either r [d] [" + self.expr(fn) + "]")
        elif kind < 0.52:
            spec = " ".join(f"{x} [integer!]" for x in ARGS[:arity])
        self.names.append(fn)
        self.texts[name] = " ".join(stmts)
        return f"{name}: func [{spec}] [{' '.join(stmts)}]"

    def mischief(self):
        """A call, made from inside a body, of a function that changes code
        or words while the caller's expression is half done; it answers
        its argument."""
        rng = self.rng
        name = rng.choice(self.names)[0]
        r = rng.random()
        if r < 0.25:
            return "m-times"
        if r < 0.35:
            return "m-plus"
        if r < 0.55:
            value = rng.choice(INTS[:8] + ["(quote +)", "[1]", "(quote a)", "(quote exit)"])
            return f"m-poke :{name} {rng.randint(1, 8)} {value}"
        if r < 0.7:
            return f"m-grow :{name} [{rng.choice(['+ 1', '* 2', 'a', 'exit'])}]"
        if r < 0.85:
            return f"m-redefine '{name}"
        if r < 0.88:
            return "m-either"
        if r < 0.94:
            return self.rng.choice(["m-rem", "m-add"])
        return "m-fail"

    def calling(self, word):
        """A function whose text calls `word`, or any."""
        found = [f for f in self.names if re.search(r"\b" + word + r" ", self.texts.get(f[0], ""))]
        return self.rng.choice(found or self.names)

    def small_call(self, fn):
        """A call with small positive arguments: it mostly runs to its end
        on the fast paths."""
        return fn[0] + " " + " ".join(self.rng.choice(["1", "2", "3", "7", "10"]) for _ in range(fn[1]))

    def call(self, fn=None):
        fn = fn or self.rng.choice(self.names)
        return fn[0] + " " + " ".join(self.arg_value() if self.rng.random() < 0.3
                                      else self.rng.choice(INTS[:8]) for _ in range(fn[1]))

    def change(self):
        """A line that changes code or words between calls."""
        rng = self.rng
        fn = rng.choice(self.names)
        name = fn[0]
        r = rng.random()
        if r < 0.18:
            return f"poke body-of :{name} {rng.randint(1, 8)} {rng.choice(INTS[:8] + ['(quote +)', '[1]', '(quote a)', '(quote either)'])}"
        if r < 0.26:
            tail = rng.choice(["+ 1", "* 2", "a", '1 + "x"', "exit", "return 5"])
            return f"append body-of :{name} [{tail}]"
        if r < 0.33:
            return f"b: pick body-of :{name} {rng.randint(1, 8)} if block? :b [change b [{rng.choice(['(set (quote +) :times) 1', '1000', 'a + 1', 'set (quote either) :swap-either 0'])}]]"
        if r < 0.43:
            # The call's value ends the line, which is what the console
            # prints.
            return "set '+ :times r: " + self.call() + " set '+ :plus r"
        if r < 0.5:
            return "set 'either :swap-either r: " + self.call() + " set 'either :either-orig r"
        # Set-words, not `set`: a native call between could push the
        # action's cache out of the call table and hide a missing guard.
        if r < 0.56:
            return "remainder: :multiply r: " + self.small_call(self.calling("remainder")) + " remainder: :rem-orig r"
        if r < 0.6:
            return "add: func [a b] [a * 3 - b] r: " + self.small_call(self.calling("add")) + " add: :add-orig r"
        if r < 0.63:
            other = rng.choice(self.names)[0]
            return f"saved: :{name} {name}: func [a] [set '{name} :saved 1000] {self.call()} {name}: :saved {other} 1"
        if r < 0.7:
            return f"{name}-orig: :{name} {name}: func [a b] [a] r: {self.call()} {name}: :{name}-orig r"
        if r < 0.78:
            return f"clear log do/trace [{self.call()}] :tracer length? log"
        if r < 0.86:
            return f"sneak: func [x] [set '+ :times x] {name}: func [a] [(1 + sneak a) + 3] {name} 2 {name} 3 set '+ :plus {name} 4"
        if r < 0.93:
            return f"loop 20 [{self.call()}] {self.call()}"
        return f"do body-of :{name}"

    def gterm(self, depth):
        """A term of a loop at the top: a global word, a literal, a call of
        a function (its arguments greedy) or of one that makes mischief."""
        rng = self.rng
        r = rng.random()
        if r < 0.4:
            return rng.choice(GLOBALS)
        if r < 0.7 or depth > 1 or not self.names:
            return self.lit()
        # Small arguments: the functions may recurse down them.
        small = lambda: rng.choice(["0", "1", "2", "3", "7", "k", "c"])
        if r < 0.8:
            g = rng.choice(self.names)
            return g[0] + " " + " ".join(small() for _ in range(g[1]))
        if r < 0.9:
            return rng.choice(["remainder", "add", "subtract", "multiply"]) + " " + \
                rng.choice(GLOBALS) + " " + rng.choice(["3", "7", "1000", "k", "-2"])
        return rng.choice(["m-break", "m-continue", "m-fail", "m-either", "m-grow-loop", "m-trace",
                           "m-word", "m-rem", "m-add", "m-poke-loop", "m-poke-loop"]) + " " + small()

    def gexpr(self, depth=0):
        out = self.gterm(depth)
        for _ in range(self.rng.choice([0, 1, 1, 2, 3])):
            out += " " + self.rng.choice(OPS) + " " + self.gterm(depth + 1)
        return out

    def gstatement(self, depth=0):
        rng = self.rng
        r = rng.random()
        if r < 0.55 or depth > 1:
            return rng.choice(GLOBALS[:3]) + ": " + self.gexpr()
        if r < 0.7:
            return self.gexpr()
        cond = self.gexpr(1) + " " + rng.choice(CMPS) + " " + self.gterm(1)
        if r < 0.85:
            return f"if {cond} [{self.gstatement(depth + 1)}]"
        return f"either {cond} [{self.gstatement(depth + 1)}] [{self.gstatement(depth + 1)}]"

    def loop_line(self):
        """A loop at the top whose words are global words, run long enough
        for its later rounds to get native code."""
        rng = self.rng
        rounds = rng.choice([3, 17, 20, 40])
        start = "set '+ :plus set 'remainder :rem-orig set 'add :add-orig c: 0 " + \
            " ".join(f"{g}: {self.lit()}" for g in GLOBALS[:3])
        body = " ".join(self.gstatement() for _ in range(rng.choice([1, 2, 3])))
        is_while = rng.random() < 0.5
        if is_while:
            # The counter steps by `-`: calls may make `+` multiply.
            body = "c: c - -1 " + body
        if rng.random() < 0.5:
            # The body kept in `lb`, which m-poke-loop changes in a later
            # round (past the while's counter: the loop still ends).
            counter = "c" if is_while else "k"
            poke = rng.choice([f"g3: g3 - m-poke-loop {counter} ", f"m-poke-loop {counter} ",
                               f"g3: (m-poke-loop {counter}) "])
            if is_while:
                body = body.replace("c: c - -1 ", "c: c - -1 " + poke, 1)
            else:
                body = poke + body
            at = rng.randint(5 if is_while else 1, 14)
            value = rng.choice(["(quote +)", "(quote *)", "(quote -)", "1", "(quote g1)", "[2]"])
            start += f" lb-at: {at} lb-v: {value} lb: [{body}]"
            body_text = "lb"
        else:
            start += " lb: none"
            body_text = f"[{body}]"
        if is_while:
            loop = f"while [c < {rounds}] {body_text}"
        else:
            loop = f"repeat k {rounds} {body_text}"
        return f"{start} {loop} reduce [c g1 g2 g3 k]"

    def program(self, n_functions, n_lines):
        lines = [
            "plus: get '+ times: get '* either-orig: :either rem-orig: :remainder add-orig: :add",
            "swap-either: func [c a b] [either-orig c b a]",
            "log: copy [] tracer: func [event code offset value ref frame] [[call] append log event]",
            "deep: func [n] [either n < 0 [0] [(deep n + 1) + 1]]",
            "mutual-a: func [n] [either n < 1 [0] [(mutual-b n - 1) + 1]]",
            "mutual-b: func [n] [either n < 1 [1] [(mutual-a n - 1) + 2]]",
            "m-times: func [x] [set '+ :times x] m-plus: func [x] [set '+ :plus x]",
            "m-poke: func [f i v x] [if i <= length? body-of :f [poke body-of :f i v] x]",
            "m-grow: func [f tail x] [append body-of :f tail x]",
            "m-redefine: func [w x] [set w func [a] [a * 3] x]",
            "m-either: func [x] [set 'either :swap-either x]",
            "m-fail: func [x] [x + \"a\"]",
            "k: 0 loop-code: [while [c < 50] [c: c - -1 g1: g1 + m-grow-loop c]]",
            "m-break: func [x] [if x = 30 [break] x] m-continue: func [x] [if x = 20 [continue] x]",
            "m-grow-loop: func [x] [if x = 25 [append third loop-code [g2: g2 + 1]] x]",
            "m-trace: func [x] [if x = 40 [trace on] x]",
            "m-word: func [x] [set to-word join \"nw\" x x]",
            "m-rem: func [x] [remainder: :multiply x] m-add: func [x] [add: :subtract x]",
            "m-poke-loop: func [x] [if all [x = 18 block? lb lb-at <= length? lb] [poke lb lb-at lb-v] x]",
        ]
        self.names.append(("mutual-a", 1))
        for i in range(n_functions):
            lines.append(self.function(i))
            for _ in range(3):
                lines.append(self.call(self.names[-1]))
        for _ in range(n_lines):
            r = self.rng.random()
            if r < 0.08:
                lines.append("set '+ :plus set 'either :either-orig set 'remainder :rem-orig set 'add :add-orig")
            elif r < 0.4:
                lines.append(self.call())
            elif r < 0.7:
                lines.append(self.change())
            elif r < 0.75:
                lines.append(self.rng.choice(["deep 1", "e: try [deep 1] e/id", "mutual-a 30", "mutual-a 5000"]))
            elif r < 0.95:
                lines.append(self.loop_line() if self.rng.random() < 0.9 else
                             "set '+ :plus c: 0 g1: 0 g2: 0 do loop-code reduce [c g1 g2]")
            else:
                lines.append(self.function(len(self.names)))
        return lines


def run(kiv, text, timeout, native, stress):
    env = dict(os.environ)
    env["ASAN_OPTIONS"] = ("detect_leaks=0:detect_stack_use_after_return=0:"
                           "handle_segv=0:handle_sigbus=0:handle_sigfpe=0:"
                           "handle_sigill=0:allow_user_segv_handler=1")
    env["UBSAN_OPTIONS"] = "print_stacktrace=1:halt_on_error=1"
    env.pop("KIV_GC_STRESS", None)
    env.pop("KIV_NATIVE_CODE", None)
    if stress:
        env["KIV_GC_STRESS"] = "1"
    if not native:
        env["KIV_NATIVE_CODE"] = "0"
    with tempfile.TemporaryDirectory(prefix="kiv-native-") as tmp:
        env["HOME"] = tmp
        env["XDG_CACHE_HOME"] = tmp
        try:
            proc = subprocess.run([kiv], input=text.encode("utf-8"), capture_output=True,
                                  cwd=tmp, env=env, timeout=timeout)
        except subprocess.TimeoutExpired:
            return None, "", ""
    return proc.returncode, proc.stdout.decode("utf-8", "replace"), proc.stderr.decode("utf-8", "replace")


def problems(args, text):
    """What is wrong with text: a list of short notes, empty when clean."""
    a = run(args.kiv, text, args.timeout, True, args.gc_stress)
    b = run(args.kiv, text, args.timeout, False, args.gc_stress)
    found = []
    for (code, _, err), which in ((a, "native code"), (b, "interpreter")):
        if code is None:
            found.append(f"timed out ({which})")
        elif code < 0:
            found.append(f"killed by signal {-code} ({which})")
        if SANITIZER.search(err):
            found.append(f"sanitizer report ({which})")
    if a[0] != b[0]:
        found.append(f"status {a[0]} with native code, {b[0]} without")
    if a[1] != b[1]:
        x, y = a[1].split("\n"), b[1].split("\n")
        i = next(i for i in range(max(len(x), len(y))) if (x[i:i + 1] or [None]) != (y[i:i + 1] or [None]))
        found.append(f"output differs at line {i + 1}: {(x[i:i + 1] or ['<end>'])[0][:100]!r} "
                     f"(native) vs {(y[i:i + 1] or ['<end>'])[0][:100]!r}")
    return found


def reduce(args, lines):
    kind = lambda notes: {n.split(" at line")[0].split(" (")[0] for n in notes}
    want = kind(problems(args, "\n".join(lines) + "\n"))
    if not want:
        return lines
    return ddmin(lines, lambda ls: bool(kind(problems(args, "\n".join(ls) + "\n")) & want))


def check(args, index):
    rng = random.Random(f"{args.seed}-{index}")
    lines = Gen(rng).program(rng.randint(2, 6), rng.randint(10, args.lines))
    text = "\n".join(lines) + "\n"
    found = problems(args, text)
    if not found:
        return None
    os.makedirs(args.out, exist_ok=True)
    name = os.path.join(args.out, f"fail-{args.seed}-{index}.kiv")
    with open(name, "w", encoding="utf-8") as fh:
        fh.write(text)
    small = reduce(args, lines) if args.reduce_failures else lines
    return f"{name}: {'; '.join(found)}\n  " + "\n  ".join(small)


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--kiv", default="build/kiv")
    p.add_argument("--seed", type=int, default=1)
    p.add_argument("--count", "--batches", type=int, default=100, dest="count", help="programs to run")
    p.add_argument("--lines", type=int, default=40, help="most lines after the definitions")
    p.add_argument("--jobs", type=int, default=os.cpu_count() or 2)
    p.add_argument("--timeout", type=float, default=60)
    p.add_argument("--gc-stress", action="store_true", help="run both sides with KIV_GC_STRESS=1")
    p.add_argument("--out", default="fuzz-out")
    p.add_argument("--no-reduce", dest="reduce_failures", action="store_false",
                   help="print failing programs whole")
    p.add_argument("--show", action="store_true", help="print the programs, run nothing")
    p.add_argument("--reduce", metavar="FILE", help="shrink a failing program and print it")
    args = p.parse_args()
    args.kiv = os.path.abspath(args.kiv)
    if args.reduce:
        with open(args.reduce, encoding="utf-8") as fh:
            print("\n".join(reduce(args, [ln for ln in fh.read().split("\n") if ln])))
        return 0
    if args.show:
        for i in range(args.count):
            rng = random.Random(f"{args.seed}-{i}")
            print("\n".join(Gen(rng).program(rng.randint(2, 6), rng.randint(10, args.lines))))
            print()
        return 0
    with concurrent.futures.ThreadPoolExecutor(args.jobs) as pool:
        results = list(pool.map(lambda i: check(args, i), range(args.count)))
    failed = [r for r in results if r]
    for r in failed:
        print(r)
    print(f"{args.count - len(failed)} of {args.count} programs the same with and without native code "
          f"(seed {args.seed}{', KIV_GC_STRESS=1' if args.gc_stress else ''})")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
