#!/usr/bin/env bash
# Start-up time of kiv (an empty script) against python3 and lua5.4.
# Usage: bench/startup-time.sh [--runs N]
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
exec /usr/bin/python3 bench/startup-time.py --kiv "$root/build/kiv" --lua "$(command -v lua5.4)" "$@"
