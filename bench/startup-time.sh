#!/usr/bin/env bash
# Start-up time of kiv (an empty script) against python3 and lua5.4.
# Usage: bench/startup-time.sh [--runs N]
set -euo pipefail
source "$(dirname "$0")/prepare.sh"
exec /usr/bin/python3 bench/startup-time.py --kiv "$root/build/kiv" --lua "$(command -v lua5.4)" "$@"
