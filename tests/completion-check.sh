#!/usr/bin/env bash
# Tab in the real console on a terminal (a detached tmux pane of 60x20, in a
# fresh folder with a few files): global words, paths and files completed
# in place, several candidates listed with the next prompt extended by their
# common part, the text after the cursor kept, Tab typed when nothing
# completes, and a completion that fails leaving the console usable.
# Usage: completion-check.sh path/to/kiv
set -euo pipefail
kiv="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
sock="kiv-completion-check-$$"
work="$(mktemp -d)"
source "$(dirname "$0")/tmux-check.sh"
trap 't kill-server >/dev/null 2>&1 || true; rm -rf "$work"' EXIT

mkdir -p "$work/cache" "$work/files/sub"
printf 'A' > "$work/files/alpha.txt"
printf 'B' > "$work/files/alpine.txt"
printf '' > "$work/files/sub/inner.kiv"

# Waits until the last line with text is the text: the editor has drawn
# its prompt (and is reading keys in raw mode).
wait_last() {
  local end=$((SECONDS + wait_limit))
  while [ "$SECONDS" -le "$end" ]; do
    [ "$(screen | grep -v '^$' | tail -n 1)" = "$1" ] && return 0
    sleep 0.02
  done
  return 1
}
expect_last() { check wait_last "$1" "$2"; }
# Waits for an empty prompt.
prompt() { check wait_last ">>" "a prompt"; }
# Types a line at an empty prompt and enters it.
line() { prompt; text "$1"; keys Enter; }

t new-session -d -x 60 -y 20 -s check \
  "cd '$work/files' && env XDG_CACHE_HOME='$work/cache' '$kiv'; echo \"ended \$?\"; sleep 30"

expect "--== Kiv" "the banner"
line "zqa-one: 11 zqa-two: 22 zqb: 33 obj: context [alpha: 1 beta: 44] ()"

# Several words: the sorted list after the prompt, then a prompt holding
# their common part, the cursor at its end.
prompt
text "zqa"; keys Tab
expect ">> zqa-one zqa-two" "the candidates listed after the prompt"
expect_last ">> zqa-" "the next prompt holds the common part"
text "one"; keys Enter
expect "== 11" "typing goes on after the common part"

# One word: completed in place, the cursor after it.
prompt
text "zqa-t"; keys Tab
expect_last ">> zqa-two" "a single candidate completes the word"
text " + 1"; keys Enter
expect "== 23" "the cursor is after the completion"

# In the middle of a line: the word before the cursor, the rest kept.
prompt
text "zqa-t 5"; keys Left Left; keys Tab
expect_last ">> zqa-two 5" "the text after the cursor is kept"
text " +"; keys Enter
expect "== 27" "the cursor is after the completed word"

# Nothing to complete: the Tab is typed (four cells).
prompt
text "zqb"; keys Tab; text "+ 1"
expect ">> zqb    + 1" "Tab after a word nothing extends is typed"
keys Enter
expect "== 34" "the line holds the Tab"
prompt
keys Tab; text "55"
expect ">>     55" "Tab on an empty line is typed"
keys Enter
expect "== 55" "a Tab then a number"

# Paths: a field of an object (no slash added), a field of system, the
# refinements of a function listed without slashes.
prompt
text "obj/b"; keys Tab
expect_last ">> obj/beta" "a field of an object"
keys Enter
expect "== 44" "the completed path"
prompt
text "type? system/opt"; keys Tab
expect_last ">> type? system/options" "a field of system"
keys Enter
expect "== object!" "the completed field"
prompt
text "append/"; keys Tab
expect ">> dup only part" "refinements, sorted, without slashes"
expect_last ">> append/" "the next prompt holds the path"
text "only [] [1]"; keys Enter
expect "== [[1]]" "the refinement typed after the path"

# Files: several listed, then one; a folder, then a file in it.
prompt
text "read %al"; keys Tab
expect ">> alpha.txt alpine.txt" "file candidates"
expect_last ">> read %alp" "their common part"
text "h"; keys Tab
expect_last ">> read %alpha.txt" "a single file"
keys Enter
expect '== "A"' "the completed file is read"
prompt
text "%s"; keys Tab
expect_last ">> %sub/" "a folder ends in a slash"
keys Tab
expect_last ">> %sub/inner.kiv" "a file in the folder"
keys Enter
expect "== %sub/inner.kiv" "the completed file name"

# A completion that fails, or answers something other than texts, types
# the Tab; the console goes on.
line "kiv-complete-ctx/complete-input: func [s c] [1 / 0] ()"
prompt
text "zqa"; keys Tab; text "-one"
expect ">> zqa    -one" "a failing completion types the Tab"
keys Enter
expect "zqa has no value" "the line is evaluated"
line "zqb * 2"
expect "== 66" "the console goes on"
line "kiv-complete-ctx/complete-input: func [s c] [reduce [1 2]] ()"
prompt
text "zqb"; keys Tab; text "- 3"
expect ">> zqb    - 3" "a result that holds no texts types the Tab"
keys Enter
expect "== 30" "the line holds the Tab"
line "q"
expect "ended 0" "q ends the console"

if [ "$failures" -ne 0 ] || [ -n "${SHOW:-}" ]; then
  echo "--- screen:"
  screen
fi
echo "completion check: $passed passed, $failures failed"
[ "$failures" -eq 0 ]
