# Shared by the terminal checks (sourced): a private tmux server, the screen
# of the pane named "check", waits for text on it and counted expectations.
# The sourcing script sets `sock`, the server's socket name, first, and may
# set `capture` to extra capture-pane flags (-J joins wrapped lines).
t() { tmux -L "$sock" -f /dev/null "$@"; }

failures=0
passed=0
screen() { t capture-pane -p ${capture:-} -t check; }
# How long a wait may take before the check fails. The limit costs nothing
# when the text shows; it only has to outlast a slow machine: on two cores
# the sanitizer build compiles beside the normal run, and a collection at
# every allocation makes the console far slower still.
wait_limit=60
[ -n "${KIV_GC_STRESS:-}" ] && wait_limit=240
# Waits until grep finds its pattern on the screen, grep's options first
# (-x for a whole line).
wait_grep() {
  local end=$((SECONDS + wait_limit))
  while [ "$SECONDS" -le "$end" ]; do
    screen | grep -q "$@" && return 0
    sleep 0.02
  done
  return 1
}
# Waits until the screen holds the text (a fixed string).
wait_for() { wait_grep -F -- "$1"; }
# Waits until a whole line of the screen is the text.
wait_line() { wait_grep -xF -- "$1"; }
# Waits until the text shows on at least n lines of the screen: a key typed
# before the editor reads again is dropped when it sets the terminal up.
wait_lines() {
  local end=$((SECONDS + wait_limit))
  while [ "$SECONDS" -le "$end" ]; do
    [ "$(screen | grep -cF -- "$1")" -ge "$2" ] && return 0
    sleep 0.02
  done
  return 1
}
# Counts one case: the waiter, its text, the reason shown when it fails.
check() {
  if "$1" "$2"; then
    passed=$((passed + 1))
  else
    echo "expected on screen: '$2' ($3)"
    failures=$((failures + 1))
    screen
  fi
}
expect() { check wait_for "$1" "$2"; }
keys() { t send-keys -t check "$@"; }
text() { t send-keys -t check -l -- "$1"; }
# Replaces the pane "check" with a fresh one of the given size running the
# command. A second session keeps the server up while the pane is replaced:
# with none left the server exits, and a client racing that exit fails with
# "server exited unexpectedly".
fresh_pane() {
  t has-session -t keep 2>/dev/null || t new-session -d -s keep "sleep 3600"
  t kill-session -t check >/dev/null 2>&1 || true
  t new-session -d -x "$1" -y "$2" -s check "$3"
}
