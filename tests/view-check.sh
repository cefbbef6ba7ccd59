#!/usr/bin/env bash
# Runs real views on a terminal (detached tmux panes of 80x24) and drives
# them with keys and the mouse: typing into a field, Tab, Space, Enter and
# a click reach the faces and their actors. After each view the terminal
# must be as it was: the console prompt comes back, and once kiv has ended
# the stty modes equal those from before, mouse reporting is off, the
# alternate screen is left and the cursor is shown. Three ways out: the
# window closed by an actor or Escape, quit from an actor, SIGTERM.
# Usage: view-check.sh path/to/kiv
set -euo pipefail
kiv="$1"
sock="kiv-view-check-$$"
dir="$(mktemp -d)"
source "$(dirname "$0")/tmux-check.sh"
trap 't kill-server >/dev/null 2>&1 || true; rm -rf "$dir"' EXIT

# A fresh pane runs the command between two stty snapshots; the line after
# it shows its exit status.
start() {
  rm -f "$dir/before" "$dir/after" "$dir/pid"
  # The terminal type is fixed here: CI's default may differ.
  fresh_pane 80 24 \
    "export TERM=xterm-256color; unset COLORTERM; stty -g >'$dir/before'; $1; echo \"ended \$?\"; stty -g >'$dir/after'; sleep 3600"
}
flags() { t display-message -p -t check "$1"; }
# Counts one case on the terminal's modes as tmux sees them: mouse
# reporting (any-motion and SGR), alternate screen, cursor shown.
expect_modes() {
  local got end=$((SECONDS + wait_limit))
  while :; do
    got="$(flags '#{mouse_any_flag}#{mouse_sgr_flag} #{alternate_on} #{cursor_flag}')"
    [ "$got" = "$1" ] || [ "$SECONDS" -gt "$end" ] && break
    sleep 0.02
  done
  if [ "$got" = "$1" ]; then
    passed=$((passed + 1))
  else
    echo "terminal modes: expected '$1', got '$got' ($2)"
    failures=$((failures + 1))
  fi
}
# The pane writes the second snapshot just after its "ended" line.
expect_stty() {
  local end=$((SECONDS + wait_limit))
  until [ -s "$dir/after" ] || [ "$SECONDS" -gt "$end" ]; do sleep 0.02; done
  if [ -s "$dir/before" ] && cmp -s "$dir/before" "$dir/after"; then
    passed=$((passed + 1))
  else
    echo "stty modes differ after kiv ended ($1)"
    failures=$((failures + 1))
  fi
}
# Waits for a line matching the extended regular expression.
expect_line() {
  if wait_grep -E -- "$1"; then
    passed=$((passed + 1))
  else
    echo "expected a line matching: '$1' ($2)"
    failures=$((failures + 1))
    screen
  fi
}
# Waits until the view's text line shows within two lines under the text
# (the view's top row is empty).
wait_view_below() {
  local end=$((SECONDS + wait_limit))
  while [ "$SECONDS" -le "$end" ]; do
    screen | grep -A2 -xF -- "$1" | grep -q '^ Click:' && return 0
    sleep 0.02
  done
  return 1
}
# Presses and releases the left button on the first cell of the text, on
# the lowest line that holds it (the view is drawn below the typed line).
click() {
  local line row col
  line="$(screen | grep -nF -- "$1" | tail -1)"
  row="${line%%:*}"
  col="$(awk -v s="$1" '{ print index($0, s) }' <<<"${line#*:}")"
  text $'\e'"[<0;${col};${row}M"
  text $'\e'"[<0;${col};${row}m"
}

# 1. The console: a view whose button actor prints the faces' values and
#    closes the window; the prompt comes back and the console goes on.
start "'$kiv'"
expect ">>" "the prompt"
text 'system/view/platform/mouse-event?: true view [f: field "abc" c: check "Tick" button "OK" [print f/text print c/data unview]]'
keys Enter
expect_line '^ abc +.*OK' "the field and the button are drawn"
expect_modes "11 0 1" "mouse reporting on while the view runs, inline"
text "xy"
expect_line '^ abcxy ' "typing goes into the focused field"
keys Tab Space
expect "🞕 Tick" "Tab moves to the check and Space ticks it"
keys Tab Enter
check wait_line "abcxy" "the actor prints the field's text"
check wait_line "true" "and the check's data"
check wait_line ">>" "the prompt comes back after the window closed"
expect_modes "00 0 1" "mouse off and the cursor shown after the view"
text "1 + 2"; keys Enter
expect "== 3" "the console reads lines again"
check wait_line ">>" "the next prompt"

# A dialog from an actor: the alert runs its own loop over the view, its
# OK button has the focus and Enter closes it from the button's actor;
# back in the first view, Escape closes every window.
text 'view [button "Ask" [alert "Hi there"] text "Main"]'; keys Enter
expect_line '^ Ask +Main' "the view is drawn"
keys Enter
expect_line '^ +OK *$' "Enter on the button opens the alert"
keys Enter
expect_line '^ Ask +Main' "Enter on OK closes the alert, the view is back"
keys Escape
# Keys typed before the prompt is back are drained with the view's input.
check wait_line ">>" "Escape closes the view"
text "2 + 5"; keys Enter
expect "== 7" "the console reads lines again"
check wait_line ">>" "the next prompt"

# 2. Buttons pressed with the mouse: one prints from its actor, and the
#    text goes where the view was, the view drawn again under it; the other
#    quits from its actor.
text 'view [text "Click:" button "Say" [print "said"] button "Bye" [quit/return 3]]'; keys Enter
expect_line '^ Click: +Say +Bye' "the second view is drawn"
expect_modes "11 0 0" "mouse reporting on again, no caret on a button"
click "Say"
expect_line '^said$' "the actor's text is printed"
if wait_view_below said; then
  passed=$((passed + 1))
else
  echo "expected the view drawn again under the printed text"
  failures=$((failures + 1))
  screen
fi
click "Bye"
expect "ended 3" "quit/return in an actor ends kiv with its status"
expect_modes "00 0 1" "mouse off and the cursor shown after quit"
expect_stty "after quit from an actor"

# 3. SIGTERM while a script's view waits for input.
printf 'Kiv []\nsystem/view/platform/mouse-event?: true\nview [text "Waiting"]\n' >"$dir/wait.kiv"
start "sh -c 'echo \$\$ >$dir/pid; exec $kiv $dir/wait.kiv'"
expect "Waiting" "the script's view is drawn"
expect_modes "11 0 0" "mouse reporting on in the script's view, no caret"
kill -TERM "$(cat "$dir/pid")" || true
expect "ended 143" "SIGTERM ends kiv by the signal"
expect_modes "00 0 1" "mouse off and the cursor shown after SIGTERM"
expect_stty "after SIGTERM"

if [ "$failures" -ne 0 ] || [ -n "${SHOW:-}" ]; then
  echo "--- screen:"
  screen
fi
echo "view check: $passed passed, $failures failed"
[ "$failures" -eq 0 ]
