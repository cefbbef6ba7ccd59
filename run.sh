#!/usr/bin/env bash
# Builds Kiv if needed and starts the console with the given arguments.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
cd "$here"
source tools/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target kiv -j "$kiv_jobs" >/dev/null
cd - >/dev/null
exec "$here/build/kiv" "$@"
