#!/usr/bin/env bash
# Runs the debugger on a terminal (a detached tmux pane of 80x24): its
# "debug> " prompt, Enter going on to the next event, and the history left
# as it was before `debug` (the lines typed at its prompt are taken out).
# Usage: debugger-check.sh path/to/kiv
set -euo pipefail
kiv="$1"
sock="kiv-debugger-check-$$"
cache="$(mktemp -d)"
source "$(dirname "$0")/tmux-check.sh"
trap 't kill-server >/dev/null 2>&1 || true; rm -rf "$cache"' EXIT

t new-session -d -s keep "sleep 3600"
t new-session -d -x 80 -y 24 -s check \
  "env XDG_CACHE_HOME='$cache' '$kiv'; echo \"ended \$?\"; sleep 30"
expect ">>" "the prompt"
text "debug [1 2] 5"; keys Enter
expect "debug>" "the debugger's prompt"
expect "-----> EVAL 1" "the first event"
text "-s"; keys Enter
wait_lines "debug>" 2 || true
keys Enter
expect "-----> EVAL 2" "Enter goes on to the next event"
text "c"; keys Enter
expect "== 5" "c runs to the end"
text "system/console/history"; keys Enter
expect '== ["system/console/history" "debug [1 2] 5"]' "the debugger's lines left the history"
text "q"; keys Enter
expect "ended 0" "q ends the console"

if [ "$failures" -ne 0 ] || [ -n "${SHOW:-}" ]; then
  echo "--- screen:"
  screen
fi
echo "debugger check: $passed passed, $failures failed"
[ "$failures" -eq 0 ]
