#!/usr/bin/env bash
# Runs the console output layer on a real terminal (a detached tmux pane of
# 80x24) and reads the screen back: text placed by column-first positioning,
# cursor moves, the erase modes and the colours must be where they belong.
# Usage: terminal-check.sh path/to/kiv-unit
set -euo pipefail
unit="$1"
sock="kiv-terminal-check-$$"
t() { tmux -L "$sock" -f /dev/null "$@"; }
trap 't kill-server >/dev/null 2>&1 || true' EXIT

t new-session -d -x 80 -y 24 -s check 'sleep 30'
t set-option -t check remain-on-exit on >/dev/null
t respawn-pane -k -t check \
  "KIV_TERMINAL_DEMO=1 '$unit' --gtest_brief=1 --gtest_filter=TerminalDemo.*"
# The demo writes "ready" on row 18 when it is done, then waits for Enter.
for _ in $(seq 1 400); do
  t capture-pane -p -t check | sed -n 19p | grep -q '^ready' && break
  [ "$(t display-message -p -t check '#{pane_dead}')" = 1 ] && break
  sleep 0.05
done
plain="$(t capture-pane -p -t check)"
coloured="$(t capture-pane -p -e -t check)"
t send-keys -t check Enter

failures=0
row() { sed -n "$(($1 + 1))p" <<<"$plain" | sed 's/ *$//'; }
expect_row() {
  local got
  got="$(row "$1")"
  if [ "$got" != "$2" ]; then
    echo "row $1: expected '$2', got '$got'"
    failures=$((failures + 1))
  fi
}
expect_row 0 "plain                         far"
expect_row 1 ""
expect_row 2 "RED"
expect_row 3 "YB"
expect_row 4 "          X"
expect_row 5 ""
expect_row 6 "abcde"
expect_row 7 "       789"
expect_row 8 "keep-row8"
expect_row 9 "Z"
expect_row 10 "up"
expect_row 11 "S"
expect_row 15 "   J"
expect_row 16 ""

esc=$'\e'
red_row="$(sed -n 3p <<<"$coloured")"
case "$red_row" in
  *"${esc}[31mRED"*) ;;
  *) echo "row 2: RED is not red: $(printf %q "$red_row")"; failures=$((failures + 1)) ;;
esac
yb_row="$(sed -n 4p <<<"$coloured")"
case "$yb_row" in
  *"93"*"104"*YB* | *"104"*"93"*YB*) ;;
  *) echo "row 3: YB is not bright yellow on bright blue: $(printf %q "$yb_row")"; failures=$((failures + 1)) ;;
esac

if [ "$failures" -ne 0 ]; then
  echo "--- screen:"
  echo "$plain"
  echo "0 passed, $failures failed"
  exit 1
fi
echo "terminal check: 1 passed, 0 failed"
