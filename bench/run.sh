#!/usr/bin/env bash
# Times every bench/<name>.kiv against its Python and Lua twins and prints the
# ratios. Usage: bench/run.sh [--runs N] [name ...]
# Builds kiv when needed and installs lua5.4 from Debian when it is missing.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
source tools/setup.sh
if ! command -v lua5.4 >/dev/null 2>&1; then
  echo "Installing: lua5.4"
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq lua5.4 >/dev/null
fi
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target kiv -j "$kiv_jobs" >/dev/null
# Debian's own interpreter, not whatever a version manager puts first on PATH.
exec /usr/bin/python3 bench/run.py --kiv "$root/build/kiv" --python /usr/bin/python3 \
  --lua "$(command -v lua5.4)" "$@"
