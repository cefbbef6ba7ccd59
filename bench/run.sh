#!/usr/bin/env bash
# Times every bench/<name>.kiv against its Python and Lua twins and prints the
# ratios. Usage: bench/run.sh [--runs N] [name ...]
# Builds kiv when needed and installs lua5.4 from Debian when it is missing.
set -euo pipefail
source "$(dirname "$0")/prepare.sh"
# Debian's own interpreter, not whatever a version manager puts first on PATH.
exec /usr/bin/python3 bench/run.py --kiv "$root/build/kiv" --python /usr/bin/python3 \
  --lua "$(command -v lua5.4)" "$@"
