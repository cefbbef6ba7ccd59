# Sourced by the bench scripts: installs lua5.4 from Debian when missing and
# builds an optimised kiv in build/.
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
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
