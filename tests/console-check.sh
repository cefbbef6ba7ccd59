#!/usr/bin/env bash
# Runs the real console on a terminal (a detached tmux pane of 60x15), types
# into it with send-keys and reads the screen back: the banner and prompt,
# results, editing keys, the continuation cue of multi-line input, ESC,
# hidden input, and the history kept across two runs in the settings file
# (a fresh XDG_CACHE_HOME).
# Usage: console-check.sh path/to/kiv
set -euo pipefail
kiv="$1"
sock="kiv-console-check-$$"
cache="$(mktemp -d)"
source "$(dirname "$0")/tmux-check.sh"
trap 't kill-server >/dev/null 2>&1 || true; rm -rf "$cache"' EXIT
# Each run gets a fresh pane; the line after kiv shows its exit status.
start() {
  fresh_pane 60 15 \
    "env XDG_CACHE_HOME='$cache' '$kiv'; echo \"ended \$?\"; sleep 30"
}

# First run.
start
expect "--== Kiv" "the banner"
expect ">>" "the prompt"
text "1 + 2"; keys Enter
expect "== 3" "a result"
text "abc"; keys Home; text "X"; keys End; text "!"; keys Left BSpace Enter
expect "Xab! has no value" "Home, End, Left and Backspace edit the line"
# A cue is the open delimiter and four spaces (the screen shows no trailing
# blanks, so each is read with the text typed after it).
text "[1"; keys Enter
text "2]"
expect "[    2]" "the continuation cue of an open block"
keys Enter
expect "==" "the block closes on the second line"
text "{x"; keys Enter
text "y"
expect "{    y" "the cue of an open brace"
keys Escape
expect "(escape)" "ESC drops the open input"
text 'ask/hide "pw: "'; keys Enter
expect "pw: " "the hidden prompt"
text "secret"
expect "pw: ******" "hidden input shows stars"
keys Enter
expect '== "secret"' "the hidden line is read"
text "10 * 10"; keys Enter
expect "== 100" "a second result"
# The pane is 60 columns wide: a result longer than 57 characters keeps 53
# and ends in "...".
text 'append/dup copy "" "x" 70'; keys Enter
expect "== {$(printf 'x%.0s' $(seq 1 52))..." "a long result is cut at the terminal's width"
text "q"; keys Enter
expect "ended 0" "q ends the console with status 0"

# Second run: the history came back from the settings file, newest first
# (q, the long result, 10 * 10, ...); the hidden line is not in it.
start
expect "--== Kiv" "the second run's banner"
# Keys sent before the line editor reads would reach the terminal in its
# ordinary mode: wait for the prompt.
expect ">>" "the second run's prompt"
keys Up
expect ">> q" "Up shows the newest line of the saved history"
keys Up
expect ">> append/dup" "a second Up the one before"
keys Up
expect ">> 10 * 10" "and a third the one before that"
keys Enter
expect "== 100" "a line from the history runs again"
# Lines typed while code runs reach the terminal in its ordinary mode,
# which turns each Enter into a line feed: each still ends its own line.
text 'wait 1 print "waited"'; keys Enter
expect 'wait 1 print "waited"' "the waiting line"
sleep 0.3
text "print 6 * 7"; keys Enter
text "print 5 * 5"; keys Enter
check wait_line "42" "the first line typed ahead runs on its own"
check wait_line "25" "and so does the second"
# Inside an open input, Ctrl-C's line "q" is one more line of it.
text "[1"; keys Enter
# Ctrl-C is a key only while the editor reads: wait for its cue, a line
# of "[" (the screen shows no trailing blanks).
if ! wait_line "["; then
  echo "expected on screen: the cue of the open input"
  failures=$((failures + 1))
fi
keys C-c
text "]"; keys Enter
expect "== [1" "Ctrl-C inside an open input does not quit"
expect "    q" "its q joins the input"
keys C-d
expect "ended 0" "Ctrl-D on an empty line quits"

if [ "$failures" -ne 0 ] || [ -n "${SHOW:-}" ]; then
  echo "--- screen:"
  screen
fi
if ! grep -q "secret" "$cache/Kiv-Console/console-cfg.kiv" && grep -q '"10 \* 10"' "$cache/Kiv-Console/console-cfg.kiv"; then
  passed=$((passed + 1))
else
  echo "settings file: the history lacks its lines or holds the hidden one"
  cat "$cache/Kiv-Console/console-cfg.kiv" || true
  failures=$((failures + 1))
fi
echo "console check: $passed passed, $failures failed"
[ "$failures" -eq 0 ]
