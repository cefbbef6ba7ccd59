#!/usr/bin/env python3
"""Random views driven in a real terminal: keys, mouse, resizes.

Each run (one seed) writes a script that shows a random layout again and
again until the driver asks it to stop. The layout is drawn from a pool of
faces: text, field, area, text-list and drop-list with data, check, radio,
button, slider, progress, base, nested panels and tab-panels, faces with a
timer (`rate` and on-time). Their actors change other faces (text, data,
size, offset, visibility, colour, selection, rate, a panel's pane), call
show, unview, alert, layout, view/no-wait, do-events/no-wait, print, set
the focus or raise an error.

The script runs under the given kiv (the sanitizer build by default) in a
pane of a private tmux server, at a random size, with stderr going to a
file. Once the view is live (tmux sees mouse reporting) the driver sends
random input: printable text, Tab, Shift-Tab, arrows, Home, End, Delete,
Backspace, Enter, Escape, function keys, Ctrl keys (never Ctrl-C or
Ctrl-Z), Alt keys, UTF-8 multi-byte, wide and combining characters,
bracketed paste, broken escape sequences and raw bytes, SGR mouse presses,
drags, releases, motion and wheel at random cells (some off the view), and
window resizes; some steps only wait, so that timers run.

To end a run the driver creates the stop file and presses Escape until the
script prints its last line and kiv exits. A run fails when:
  - stderr holds anything (a sanitizer report, an internal error),
  - kiv ends with a status other than 0 (or the quit status of an actor),
  - the script's last line or kiv's end does not come within the time
    limit after the stop (a hang),
  - afterwards the stty modes differ from those before, or mouse
    reporting, the alternate screen, a hidden cursor or another mode that
    tmux tracks is left switched on.
A failing run is kept in LOGS/seed-N/: the script, the steps sent, the
screen, stderr and what went wrong. Runs repeat with the same seed; timing
can still make one replay differ.

Usage: views.py [--kiv build-san/kiv] [--seed 9001] [--runs 20]
                [--steps 150] [--limit 90] [--logs /tmp/kiv-views]
                [--size 80x24] [--keep] [--show] [--gc-stress]
                [--replay LOGS/seed-N]
"""
import argparse
import ast
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))

ASAN_OPTIONS = ("detect_leaks=0:detect_stack_use_after_return=0:handle_segv=0:"
                "handle_sigbus=0:handle_sigfpe=0:handle_sigill=0:"
                "allow_user_segv_handler=1")
UBSAN_OPTIONS = "print_stacktrace=1:halt_on_error=1"

# The terminal modes tmux tracks and their values once kiv has ended.
MODE_FORMAT = ("#{mouse_any_flag}#{mouse_button_flag}#{mouse_standard_flag}"
               "#{mouse_sgr_flag}#{mouse_utf8_flag} #{alternate_on} "
               "#{cursor_flag} #{keypad_flag}#{keypad_cursor_flag} "
               "#{insert_flag} #{origin_flag} #{wrap_flag}")
MODES_AFTER = "00000 0 1 00 0 0 1"

QUIT_STATUS = 7

TEXTS = ["", "a", "OK", "Hello", "x y z", "naïve", "日本語", "tab\there",
         "two^/lines", "emoji 😀", "e\u0301", "a much longer text than the face"]


class Layout:
    """A random layout: the VID block and the names of its faces."""

    def __init__(self, rng):
        self.rng = rng
        self.names = []
        self.panels = []
        self.lists = []
        self.quits = False
        self.count = 0

    def name(self, kind):
        self.count += 1
        n = f"f{self.count}"
        self.names.append(n)
        if kind in ("panel", "tab-panel"):
            self.panels.append(n)
        if kind in ("text-list", "drop-list"):
            self.lists.append(n)
        return n

    def text(self):
        return '"' + self.rng.choice(TEXTS) + '"'

    def data_block(self):
        n = self.rng.choice([0, 1, 3, 12, 40])
        return "[" + " ".join(f'"{self.rng.choice(TEXTS) or "item"} {i}"'
                              for i in range(n)) + "]"

    def value(self):
        r = self.rng
        return r.choice([
            f"{r.randint(-20, 120)}%", "true", "false", "none",
            str(r.randint(-5, 50)), self.data_block(), self.text(),
            f"{r.random():.2f}",
        ])

    def statement(self):
        r = self.rng
        f = r.choice(self.names) if self.names else "f1"
        p = r.choice(self.panels) if self.panels else f
        choices = [
            (6, lambda: f"{f}/text: {self.text()}"),
            (5, lambda: f"{f}/data: {self.value()}"),
            (2, lambda: f"{f}/size: {r.randint(-2, 90)}x{r.randint(-2, 30)}"),
            (2, lambda: f"{f}/offset: {r.randint(-5, 90)}x{r.randint(-5, 30)}"),
            (2, lambda: f"{f}/visible?: {r.choice(['true', 'false'])}"),
            (2, lambda: f"{f}/enabled?: {r.choice(['true', 'false'])}"),
            (1, lambda: f"{f}/color: random 255.255.255"),
            (2, lambda: f"{f}/selected: {r.choice(['none', '1', '2', '5', '-1', '0'])}"),
            (1, lambda: f"{f}/rate: {r.choice(['none', '3', '20', '0:0:0.05'])}"),
            (2, lambda: f"if block? {f}/data [append {f}/data {self.text()}]"),
            (1, lambda: f"if block? {f}/data [clear {f}/data]"),
            (1, lambda: f"if series? {f}/text [clear {f}/text]"),
            (1, lambda: f"if string? {f}/text [insert {f}/text {self.text()}]"),
            (3, lambda: f"show {f}"),
            (2, lambda: f"append {p}/pane layout/only [button {self.text()} [unview] field]"),
            (1, lambda: f"if block? {p}/pane [clear {p}/pane] show {p}"),
            (1, lambda: f"if all [block? {p}/pane not empty? {p}/pane] [remove {p}/pane] show {p}"),
            (1, lambda: f"{p}/pane: copy {p}/pane show {p}"),
            (1, lambda: "unview"),
            (1, lambda: "unview/all"),
            (1, lambda: f"alert {self.text()}"),
            (1, lambda: f"view/no-wait [text {self.text()} button \"X\" [unview] field]"),
            (1, lambda: "do-events/no-wait"),
            (1, lambda: f"view [text {self.text()} button \"In\" [unview] field {self.text()}]"),
            (1, lambda: f"unview/only {f}"),
            (1, lambda: f"{f}/text: none"),
            (1, lambda: f"{f}/pane: none show {f}"),
            (1, lambda: f"{f}/type: '{r.choice(['button', 'field', 'text-list', 'panel', 'window'])} show {f}"),
            (1, lambda: f"layout [button {self.text()} field text-list data {self.data_block()}]"),
            (2, lambda: f"print {self.text()}"),
            (1, lambda: f"set-focus {f}"),
            (1, lambda: "1 / 0"),
            (1, lambda: "recycle"),
            (1, lambda: f"{f}/font: make font! [size: 14 style: 'bold]"),
            (1, lambda: f"{f}/para: make para! [align: 'right]"),
            (1, lambda: f"{f}/parent/size: {r.randint(1, 80)}x{r.randint(1, 24)}"),
        ]
        if r.random() < 0.03:
            self.quits = True
            return f"quit/return {QUIT_STATUS}"
        weights = [w for w, _ in choices]
        return r.choices(choices, weights)[0][1]()

    def actor(self):
        r = self.rng
        event = r.choice(["on-click", "on-change", "on-key", "on-down",
                          "on-up", "on-over", "on-wheel", "on-enter",
                          "on-select", "on-focus", "on-unfocus", "on-dbl-click",
                          "on-alt-down", "on-key-down", "on-time", "on-drag",
                          "on-drag-start", "on-drop", "on-created", "on-wheel"])
        body = " ".join(self.statement() for _ in range(r.randint(1, 3)))
        return f"{event} [{body}]"

    def face(self, depth):
        r = self.rng
        kinds = ["text", "button", "field", "area", "text-list", "drop-list",
                 "check", "radio", "slider", "progress", "base"]
        if depth < 2:
            kinds += ["panel", "tab-panel"]
        kind = r.choice(kinds)
        parts = []
        if r.random() < 0.7:
            parts.append(self.name(kind) + ":")
        parts.append(kind)
        if kind in ("text", "button", "field", "area", "check", "radio"):
            if r.random() < 0.8:
                parts.append(self.text())
        if kind in ("text-list", "drop-list"):
            parts += ["data", self.data_block()]
            if r.random() < 0.4:
                parts += ["select", str(r.randint(0, 4))]
        if kind in ("slider", "progress", "check", "radio") and r.random() < 0.5:
            parts.append(r.choice(["0%", "50%", "100%", "true", "false"]))
        if r.random() < 0.3:
            parts.append(f"{r.randint(1, 40)}x{r.randint(1, 12)}")
        if kind == "panel":
            parts.append("[" + self.faces(depth + 1) + "]")
        if kind == "tab-panel":
            tabs = []
            for i in range(r.randint(1, 3)):
                tabs.append(f'"T{i}" [' + self.faces(depth + 1) + "]")
            parts.append("[" + " ".join(tabs) + "]")
        if r.random() < 0.15:
            parts += ["rate", r.choice(["2", "10", "30", "0:0:0.1"])]
            parts.append("on-time [" + self.statement() + "]")
        if r.random() < 0.1:
            parts.append(r.choice(["disabled", "hidden", "focus", "loose"]))
        for _ in range(r.choices([0, 1, 2], [3, 4, 2])[0]):
            parts.append(self.actor())
        return " ".join(parts)

    def faces(self, depth):
        r = self.rng
        out = []
        for _ in range(r.randint(1, 6 if depth == 0 else 3)):
            if r.random() < 0.15:
                out.append(r.choice(["return", "below", "across"]))
            out.append(self.face(depth))
        return " ".join(out)


def make_script(rng, stop_file):
    layout = Layout(rng)
    body = layout.faces(0)
    if rng.random() < 0.2:
        body += " do [" + layout.statement() + "]"
    script = f"""Kiv []
system/view/platform/mouse-event?: true
fuzz-round: 0
until [
    fuzz-round: fuzz-round + 1
    set/any 'fuzz-result try [view [{body}]]
    if error? :fuzz-result [print ["VIEW-ERROR" mold :fuzz-result]]
    print ["VIEW-ENDED" fuzz-round]
    any [exists? {stop_file} error? :fuzz-result]
]
print "ALL-DONE"
"""
    return script, layout


SPECIAL_KEYS = ["Tab", "BTab", "Up", "Down", "Left", "Right", "Home", "End",
                "DC", "BSpace", "Enter", "PPage", "NPage", "IC", "F1", "F5",
                "F12", "Space"]
CTRL_KEYS = [f"C-{c}" for c in "abdefghklnopqrstuvwxy"]
UTF8 = ["é", "ñ", "€", "日", "本語", "😀", "e\u0301", "\u200d", "ｱ", "한", "\u00a0", "𝄞"]
BROKEN = ["\x1b[", "\x1b[<0;", "\x1b[<0;5;", "\x1b[<99999999;1;1M", "\x1b[1;5A",
          "\x1b[3;5~", "\x1bO", "\x1b[200~", "\x1b[201~", "\x1bP junk\x1b\\",
          "\x1b]0;title\x07", "\x1b[12;40R", "\x1b[-1;-1R", "\x1b[<0;0;0M",
          "\x1b[<64;-3;2M", "\x1b[M !!", "\x1b[999999999999~"]


class Driver:
    def __init__(self, args, sock):
        self.args = args
        self.sock = sock

    def tmux(self, *argv, check=False):
        return subprocess.run(["tmux", "-L", self.sock, "-f", "/dev/null", *argv],
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                              text=True, check=check).stdout

    def screen(self):
        return self.tmux("capture-pane", "-p", "-t", "check")

    def flags(self, fmt):
        return self.tmux("display-message", "-p", "-t", "check", fmt).strip()

    def send_text(self, s):
        self.tmux("send-keys", "-t", "check", "-l", "--", s)

    def send_keys(self, *keys):
        self.tmux("send-keys", "-t", "check", *keys)

    def wait(self, test, limit):
        end = time.monotonic() + limit
        while time.monotonic() < end:
            if test():
                return True
            time.sleep(0.05)
        return False


def random_step(rng, size):
    """One input step: (description, function of the driver)."""
    w, h = size
    kind = rng.choices(
        ["text", "special", "ctrl", "alt", "utf8", "paste", "broken", "bytes",
         "mouse", "drag", "wheel", "motion", "resize", "pause", "escape"],
        [10, 14, 3, 2, 4, 2, 2, 1, 10, 4, 3, 3, 2, 3, 1])[0]

    def cell():
        if rng.random() < 0.05:
            return rng.choice([0, 1, w + 5, 2000]), rng.choice([0, 1, h + 5, 2000])
        return rng.randint(1, w), rng.randint(1, h)

    def mods():
        return rng.choice([0, 0, 0, 4, 8, 16])

    if kind == "text":
        s = "".join(rng.choice("abcXYZ019 .,-_/[]\"'^") for _ in range(rng.randint(1, 8)))
        return f"text {s!r}", lambda d: d.send_text(s)
    if kind == "special":
        k = rng.choice(SPECIAL_KEYS)
        return f"key {k}", lambda d: d.send_keys(k)
    if kind == "ctrl":
        k = rng.choice(CTRL_KEYS)
        return f"key {k}", lambda d: d.send_keys(k)
    if kind == "alt":
        k = "M-" + rng.choice("axq1[O")
        return f"key {k}", lambda d: d.send_keys(k)
    if kind == "utf8":
        s = "".join(rng.choice(UTF8) for _ in range(rng.randint(1, 4)))
        return f"text {s!r}", lambda d: d.send_text(s)
    if kind == "paste":
        s = "\x1b[200~" + rng.choice(["pasted", "a\rb", "日本\tx", "x" * 60]) + "\x1b[201~"
        return f"text {s!r}", lambda d: d.send_text(s)
    if kind == "broken":
        s = rng.choice(BROKEN)
        return f"text {s!r}", lambda d: d.send_text(s)
    if kind == "bytes":
        # Never Ctrl-C, Ctrl-Z or Ctrl-\: between two views the terminal is
        # in cooked mode, where they would signal the whole pane.
        bs = [f"{rng.choice([0x1b, 0x7f, 0x00, 0x80, 0xc3, 0xe2, 0xf0, 0xff, rng.randint(1, 255)]):02x}"
              for _ in range(rng.randint(1, 5))]
        bs = [b for b in bs if b not in ("03", "1a", "1c")] or ["7f"]
        return f"hex {' '.join(bs)}", lambda d: d.send_keys("-H", *bs)
    if kind in ("mouse", "drag"):
        b = rng.choice([0, 0, 0, 1, 2]) + mods()
        x, y = cell()
        seq = f"\x1b[<{b};{x};{y}M"
        if kind == "drag":
            for _ in range(rng.randint(1, 4)):
                x, y = cell() if rng.random() < 0.3 else (max(1, x + rng.randint(-3, 3)), max(1, y + rng.randint(-1, 1)))
                seq += f"\x1b[<{b + 32};{x};{y}M"
        if rng.random() < 0.9:
            seq += f"\x1b[<{b};{x};{y}m"
        return f"text {seq!r}", lambda d: d.send_text(seq)
    if kind == "wheel":
        x, y = cell()
        seq = f"\x1b[<{rng.choice([64, 65, 66, 67]) + mods()};{x};{y}M"
        return f"text {seq!r}", lambda d: d.send_text(seq)
    if kind == "motion":
        seq = "".join(f"\x1b[<{35 + mods()};{x};{y}M" for x, y in (cell() for _ in range(rng.randint(1, 5))))
        return f"text {seq!r}", lambda d: d.send_text(seq)
    if kind == "resize":
        nw, nh = rng.randint(8, 140), rng.randint(3, 45)
        size[0], size[1] = nw, nh
        return f"resize {nw}x{nh}", lambda d: d.tmux("resize-window", "-t", "check", "-x", str(nw), "-y", str(nh))
    if kind == "pause":
        t = rng.choice([0.05, 0.1, 0.3])
        return f"pause {t}", lambda d: time.sleep(t)
    return "key Escape", lambda d: d.send_keys("Escape")


def kiv_stacks(d):
    """The process state and the stack of the kiv still running in the pane."""
    shell = d.flags("#{pane_pid}")
    kids = subprocess.run(["pgrep", "-P", shell], stdout=subprocess.PIPE, text=True).stdout.split()
    out = []
    for pid in kids:
        status = subprocess.run(["ps", "-o", "pid,stat,pcpu,cmd", "-p", pid],
                                stdout=subprocess.PIPE, text=True).stdout
        out.append(status)
        if shutil.which("gdb"):
            out.append(subprocess.run(
                ["gdb", "-p", pid, "-batch", "-ex", "thread apply all bt 40"],
                stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=120).stdout)
    return "\n".join(out)


def replay_step(desc, size):
    """The step a line of a kept steps.txt describes."""
    kind, _, rest = desc.partition(" ")
    if kind == "key":
        return lambda d: d.send_keys(rest)
    if kind == "text":
        s = ast.literal_eval(rest)
        return lambda d: d.send_text(s)
    if kind == "hex":
        return lambda d: d.send_keys("-H", *rest.split())
    if kind == "resize":
        w, h = rest.split("x")
        size[0], size[1] = int(w), int(h)
        return lambda d: d.tmux("resize-window", "-t", "check", "-x", w, "-y", h)
    if kind == "pause":
        return lambda d: time.sleep(float(rest))
    return lambda d: None


def run_one(args, seed, sock, logs):
    rng = random.Random(seed)
    work = tempfile.mkdtemp(prefix=f"kiv-views-{seed}-")
    stop = os.path.join(work, "stop")
    script, layout = make_script(rng, "%" + stop)
    replay = None
    if args.replay:
        with open(os.path.join(args.replay, "case.kiv")) as f:
            script = f.read()
        old_stop = script[script.index("exists? %") + 9:].split()[0]
        script = script.replace(old_stop, stop)
        layout.quits = "quit/return" in script
        with open(os.path.join(args.replay, "steps.txt")) as f:
            replay = [line.rstrip("\n") for line in f]
        args.size = replay[0].split()[1]
        replay = [line for line in replay[1:] if line != "stop"]
    with open(os.path.join(work, "case.kiv"), "w") as f:
        f.write(script)
    if args.size:
        w, h = (int(v) for v in args.size.split("x"))
    else:
        w, h = rng.randint(20, 120), rng.randint(5, 40)
    size = [w, h]
    d = Driver(args, sock)
    if subprocess.run(["tmux", "-L", sock, "-f", "/dev/null", "has-session", "-t", "keep"],
                      stderr=subprocess.DEVNULL).returncode != 0:
        d.tmux("new-session", "-d", "-s", "keep", "sleep 86400")
    d.tmux("kill-session", "-t", "check")
    cmd = (f"cd '{work}'; export TERM=xterm-256color; unset COLORTERM; stty -g >before; "
           f"ASAN_OPTIONS={ASAN_OPTIONS} UBSAN_OPTIONS={UBSAN_OPTIONS} "
           f"{'KIV_GC_STRESS=1 ' if args.gc_stress else ''}"
           f"'{args.kiv}' case.kiv 2>stderr; echo \"ended $?\"; stty -g >after; sleep 86400")
    d.tmux("new-session", "-d", "-x", str(w), "-y", str(h), "-s", "check", cmd)
    steps = [f"size {w}x{h}"]
    problems = []

    def ended():
        # The history too: keys echoed after the end may scroll a small pane.
        for line in d.tmux("capture-pane", "-p", "-S", "-2000", "-t", "check").splitlines():
            # Keys echoed after the end may stand before it on its line.
            m = re.search(r"ended (\d+)$", line)
            if m:
                return m.group(0)
        return None

    def stderr_text():
        try:
            with open(os.path.join(work, "stderr"), errors="replace") as f:
                return f.read()
        except OSError:
            return ""

    # A view that its own actors close at once never shows mouse reporting
    # to tmux; its script goes on to the next view, which is not a fault.
    if not d.wait(lambda: d.flags("#{mouse_any_flag}") == "1" or ended()
                  or "*** " in d.screen() or "VIEW-ENDED" in d.screen(), args.limit):
        problems.append("the view never became live")
    for i in range(len(replay) if replay is not None else args.steps):
        if replay is not None:
            desc = replay[i]
            act = replay_step(desc, size)
        else:
            desc, act = random_step(rng, size)
        steps.append(desc)
        act(d)
        if i % 10 == 9 and (stderr_text() or ended()):
            break
    steps.append("stop")
    open(stop, "w").close()
    # A Ctrl-S met in cooked mode, between two views, stops the pane's output.
    d.send_keys("C-q")
    # Escape closes the view; keep pressing it while a dialog or a new view
    # from an actor is up.
    end = time.monotonic() + args.limit
    done = None
    while time.monotonic() < end:
        done = ended()
        if done or stderr_text():
            break
        d.send_keys("Escape")
        d.wait(ended, 2)
    done = d.wait(ended, 5) and ended()
    err = stderr_text()
    if err:
        problems.append("stderr: " + err.strip().splitlines()[0][:200])
    if not done:
        problems.append("no end within the limit (hang?)")
        stacks = kiv_stacks(d)
        with open(os.path.join(work, "stacks"), "w") as f:
            f.write(stacks)
    else:
        status = int(done.split()[1])
        ok = {0, QUIT_STATUS} if layout.quits else {0}
        if status not in ok:
            problems.append(f"exit status {status}")
        if status == 0 and "ALL-DONE" not in d.screen():
            # The last line may have scrolled off only when the screen is
            # tiny; the history keeps it.
            hist = d.tmux("capture-pane", "-p", "-S", "-2000", "-t", "check")
            if "ALL-DONE" not in hist:
                problems.append("the script's last line never came")
        if "VIEW-ERROR" in d.tmux("capture-pane", "-p", "-S", "-2000", "-t", "check"):
            problems.append("view raised an error (layout or script, see screen)")
        if not d.wait(lambda: os.path.exists(os.path.join(work, "after")), 10):
            problems.append("no stty snapshot after the end")
        else:
            time.sleep(0.1)
            with open(os.path.join(work, "before")) as a, open(os.path.join(work, "after")) as b:
                if a.read() != b.read():
                    problems.append("stty modes differ after kiv ended")
        modes = d.flags(MODE_FORMAT)
        if modes != MODES_AFTER:
            problems.append(f"terminal modes after the end: '{modes}', expected '{MODES_AFTER}'")
    history = d.tmux("capture-pane", "-p", "-S", "-2000", "-t", "check")
    rounds = sum(1 for line in history.splitlines() if line.startswith("VIEW-ENDED"))
    if args.show:
        print(history.rstrip())
    if problems:
        out = os.path.join(logs, f"seed-{seed}")
        os.makedirs(out, exist_ok=True)
        shutil.copy(os.path.join(work, "case.kiv"), out)
        with open(os.path.join(out, "steps.txt"), "w") as f:
            f.write("\n".join(steps) + "\n")
        with open(os.path.join(out, "screen.txt"), "w") as f:
            f.write(d.tmux("capture-pane", "-p", "-S", "-2000", "-t", "check"))
        with open(os.path.join(out, "stderr.txt"), "w") as f:
            f.write(err)
        if os.path.exists(os.path.join(work, "stacks")):
            shutil.copy(os.path.join(work, "stacks"), os.path.join(out, "stacks.txt"))
        with open(os.path.join(out, "problems.txt"), "w") as f:
            f.write("\n".join(problems) + "\n")
    d.tmux("kill-session", "-t", "check")
    if not args.keep:
        shutil.rmtree(work, ignore_errors=True)
    return problems, rounds


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--kiv", default=os.path.join(ROOT, "build-san", "kiv"))
    ap.add_argument("--seed", type=int, default=9001)
    ap.add_argument("--runs", type=int, default=20)
    ap.add_argument("--steps", type=int, default=150)
    ap.add_argument("--limit", type=float, default=90.0,
                    help="seconds to wait for the view, and for the end after the stop")
    ap.add_argument("--logs", default="/tmp/kiv-views")
    ap.add_argument("--size", help="pane size WxH (random by default)")
    ap.add_argument("--keep", action="store_true", help="keep the work folders")
    ap.add_argument("--show", action="store_true", help="print each run's screen and history")
    ap.add_argument("--gc-stress", action="store_true",
                    help="run kiv with KIV_GC_STRESS=1 (give a larger --limit)")
    ap.add_argument("--replay", metavar="DIR",
                    help="run the script and steps kept in DIR (a failed seed's folder) once")
    args = ap.parse_args()
    args.kiv = os.path.abspath(args.kiv)
    if args.replay:
        args.runs = 1
    sock = f"kiv-views-fuzz-{os.getpid()}"
    failed = 0
    try:
        for seed in range(args.seed, args.seed + args.runs):
            t0 = time.monotonic()
            problems, rounds = run_one(args, seed, sock, args.logs)
            took = time.monotonic() - t0
            if problems:
                failed += 1
                print(f"seed {seed}: FAIL ({took:.0f}s): " + "; ".join(problems), flush=True)
            else:
                print(f"seed {seed}: ok ({took:.0f}s, {rounds} views)", flush=True)
    finally:
        subprocess.run(["tmux", "-L", sock, "kill-server"], stderr=subprocess.DEVNULL)
    print(f"{args.runs} runs, {failed} failed; logs in {args.logs}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
