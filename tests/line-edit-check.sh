#!/usr/bin/env bash
# Runs the line editor on a real terminal (a detached tmux pane of 40x12),
# types into it with send-keys and reads the screen back: editing keys,
# history, wrapping at the columns, hidden input, ESC and Ctrl-C.
# Usage: line-edit-check.sh path/to/kiv-unit
set -euo pipefail
unit="$1"
sock="kiv-line-edit-check-$$"
capture=-J
source "$(dirname "$0")/tmux-check.sh"
trap 't kill-server >/dev/null 2>&1 || true' EXIT

t new-session -d -x 40 -y 12 -s check 'sleep 30'
t set-option -t check remain-on-exit on >/dev/null
t respawn-pane -k -t check \
  "KIV_LINE_EDIT_DEMO=1 '$unit' --gtest_brief=1 --gtest_filter=LineEditDemo.*"

expect ">>" "first prompt"
text "abc"; keys Home; text "X"; keys Enter
expect "got [Xabc]" "Home then a letter goes first"

keys Up; expect ">> Xabc" "Up shows the last line"
keys Left Left BSpace Enter
expect "got [Xbc]" "Left, Left, Backspace"

text "0123456789012345678901234567890123456789abcdef"
expect ">> 0123456789012345678901234567890123456" "long line, first row"
expect "789abcdef" "long line wraps to the next row"
keys C-a; text "<"; keys C-e; text ">"
expect ">> <012345678901234567890123456789012345" "Ctrl-A insert redraws the rows"
keys Enter
expect "got [<0123456789012345678901234567890123456789abcdef>]" "wrapped line read whole"

text "hide"; keys Enter
expect "got [hide]" "hide"
text "se"; keys Tab; text "cret"; keys Enter
expect "pw: **********" "hidden input shows stars, a Tab as four"
expect "got [se_cret]" "hidden line read"

keys Up; text "!"; keys Enter
expect "got [hide!]" "a hidden line is not in the history"

text "abc"; keys Escape
expect "got [abc~]" "ESC ends the edit"

text "xyz"; keys C-c
expect "got [q]" "Ctrl-C gives q"
expect "done" "the demo ended"

if [ "$failures" -ne 0 ] || [ -n "${SHOW:-}" ]; then
  echo "--- screen:"
  screen
fi
echo "line editor check: $passed passed, $failures failed"
[ "$failures" -eq 0 ]
