#!/usr/bin/env python3
"""Checks every fatal path of kiv: the exact report and the exit status.

Each case runs kiv with KIV_TEST_FAULT naming the failure that start-up
provokes (the test build's fault hook). A report case expects exactly

    "\\n*** Runtime Error <code>: <message>\\n*** at: <8 hex digits>h\\n"

on standard output and the code as exit status; a quiet case expects no
output at all, or exactly the text it names (a language error that no try
frame took is printed in its standard form and ends the process with
status -2, 254 as the shell sees it). kiv runs an empty script, so that a
run without a fault prints nothing (no console banner) and ends with status
0. Usage: run-fatal-tests.py path/to/kiv
"""
import concurrent.futures
import os
import re
import signal
import subprocess
import sys
import tempfile

QUIET = None

# (fault, code or QUIET, message, status, extra environment, text after the report)
CASES = [
    ("", QUIET, None, 0, {}, ""),
    ("access", 1, "access violation", 1, {}, ""),
    ("misalign", 2, "invalid alignment", 2, {}, ""),
    ("breakpoint", 3, "breakpoint", 3, {}, ""),
    ("single-step", 4, "single step", 4, {}, ""),
    ("float-divide", 7, "float divide by zero", 7, {}, ""),
    ("float-inexact", 8, "float inexact result", 8, {}, ""),
    ("float-invalid", 9, "float invalid operation", 9, {}, ""),
    ("float-overflow", 10, "float overflow", 10, {}, ""),
    ("stack-fault", 11, "float stack check", 11, {}, ""),
    ("float-underflow", 12, "float underflow", 12, {}, ""),
    ("integer-divide", 13, "integer divide by zero", 13, {}, ""),
    ("bus", 16, "invalid virtual address", 16, {}, ""),
    ("illegal", 17, "illegal instruction", 17, {}, ""),
    ("deep-recursion", QUIET, None, 0, {}, ""),
    ("stack-overflow", 19, "stack error or overflow", 19, {}, ""),
    ("exit:6", 6, "float denormal operan", 6, {}, ""),
    ("exit:22", 22, "invalid handle", 22, {}, ""),
    ("out-of-memory", 94, "out of memory", 94, {}, ""),
    ("bad-alloc", 94, "out of memory", 94, {}, ""),
    ("uncaught-throw", 95, "no CATCH for THROW", 95, {}, ""),
    # Language errors with no try frame: the error's text and status -2.
    ("language-error", QUIET, None, 254, {},
     "*** Script Error: foo has no value\n*** Where: ???\n*** Near : none\n"),
    ("throw-without-catch", QUIET, None, 254, {},
     "*** Throw Error: no catch for throw: 42\n*** Where: <not-found>\n*** Near : none\n"
     "*** Stack: \n"),
    # Deep recursion ends in the language's own stack overflow: at the
    # call stack's 12,000 frames, or earlier when the native stack runs short.
    ("deep-frames", QUIET, None, 254, {},
     "*** Internal Error: stack overflow\n*** Where: deep\n*** Near : none\n*** Stack: \n"),
    ("deep-native", QUIET, None, 254, {},
     "*** Internal Error: stack overflow\n*** Where: deep\n*** Near : none\n*** Stack: \n"),
    # A throw code that no region takes reaches the outermost one.
    ("unclaimed-throw", 95, "no CATCH for THROW", 95, {}, ""),
    ("quit-through-regions", QUIET, None, 0, {}, ""),
    ("foreign-exception", 95, "no CATCH for THROW", 95, {}, ""),
    ("abort", 99, "unknown error", 99, {}, ""),
    ("exit:100", 100, "no value matched in CASE", 100, {}, ""),
    ("exit:101", 101, "no value matched in SWITCH", 101, {}, ""),
    ("exit:123", 123, "unknown error code!", 123, {}, ""),
    ("exit:23", 23, "unknown error code!", 23, {}, ""),
    ("exit:-5", -5, "unknown error code!", 251, {}, ""),
    ("exit:0", QUIET, None, 0, {}, ""),
    ("quit-throw", QUIET, None, 0, {}, ""),
    # The ways out put the terminal back (the hook stands in for the real one).
    ("", QUIET, None, 0, {"KIV_TEST_RESTORE_TEXT": "restored"}, "restored"),
    ("access", 1, "access violation", 1, {"KIV_TEST_RESTORE_TEXT": "restored"}, "restored"),
    ("exit:95", 95, "no CATCH for THROW", 95, {"KIV_TEST_RESTORE_TEXT": "restored"}, "restored"),
    # An interrupt ends the process by the signal itself, after the restore.
    ("interrupt", QUIET, None, -signal.SIGINT, {"KIV_TEST_RESTORE_TEXT": "restored"}, "restored"),
]

# A sanitizer build must leave the fault signals and failed allocations to kiv.
SANITIZER_OPTIONS = ("handle_segv=0:handle_sigbus=0:handle_sigfpe=0:handle_sigill=0:"
                     "handle_abort=0:allow_user_segv_handler=1:allocator_may_return_null=1:"
                     "detect_leaks=0")


def expected_pattern(code, message, after):
    report = b""
    if code is not QUIET:
        report = (b"\n*** Runtime Error " + str(code).encode() + b": " + message.encode() +
                  b"\n*** at: [0-9A-F]{8}h\n")
        report = re.escape(report).replace(re.escape(b"[0-9A-F]{8}"), b"[0-9A-F]{8}")
    return re.compile(report + re.escape(after.encode()) + b"\\Z")


# The empty script every run is given (made by main).
SCRIPT = None


def run(kiv, case):
    fault, code, message, status, extra, after = case
    env = dict(os.environ)
    env.pop("KIV_TEST_FAULT", None)
    env.pop("KIV_TEST_RESTORE_TEXT", None)
    if fault:
        env["KIV_TEST_FAULT"] = fault
    env.update(extra)
    env["ASAN_OPTIONS"] = ":".join(filter(None, [env.get("ASAN_OPTIONS", ""), SANITIZER_OPTIONS]))
    name = f"{fault or '(none)'} {extra or ''}".strip()
    try:
        proc = subprocess.run([kiv, SCRIPT], stdin=subprocess.DEVNULL, capture_output=True,
                              env=env, timeout=120)
    except subprocess.TimeoutExpired:
        return f"{name}: timed out"
    problems = []
    if not expected_pattern(code, message, after).match(proc.stdout):
        problems.append(f"{name}: output {proc.stdout!r}")
    if proc.returncode != status:
        problems.append(f"{name}: exit status {proc.returncode}, expected {status}")
    if problems and proc.stderr:
        problems.append("  stderr: " + proc.stderr.decode("utf-8", "replace")[-2000:])
    return "\n".join(problems)


def run_with_closed_stdout(kiv):
    """A report written to a pipe nobody reads is lost, not a SIGPIPE death."""
    read_end, write_end = os.pipe()
    os.close(read_end)
    env = dict(os.environ, KIV_TEST_FAULT="exit:22")
    try:
        proc = subprocess.run([kiv, SCRIPT], stdin=subprocess.DEVNULL, stdout=write_end,
                              stderr=subprocess.PIPE, env=env, timeout=120)
    finally:
        os.close(write_end)
    if proc.returncode != 22:
        return f"closed stdout: exit status {proc.returncode}, expected 22"
    return ""


def main():
    global SCRIPT
    kiv = sys.argv[1]
    folder = tempfile.TemporaryDirectory(prefix="kiv-fatal-")
    SCRIPT = os.path.join(folder.name, "empty.kiv")
    with open(SCRIPT, "w") as f:
        f.write("Kiv []\n")
    with concurrent.futures.ThreadPoolExecutor(min(8, os.cpu_count() or 2)) as pool:
        results = list(pool.map(lambda c: run(kiv, c), CASES))
    results.append(run_with_closed_stdout(kiv))
    failed = [r for r in results if r]
    for r in failed:
        print(r)
    print(f"{len(results) - len(failed)} passed, {len(failed)} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
