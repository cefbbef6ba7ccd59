# Sourced by run.sh and test.sh: installs the Debian packages the build needs
# when any is missing. Safe to run on every call; it only calls apt-get when a
# package is absent.
kiv_packages=(g++ cmake ninja-build libgtest-dev python3 libssl-dev zlib1g-dev libcurl4-openssl-dev tmux
  libpng-dev libturbojpeg0-dev libgif-dev libtiff-dev)
kiv_missing=()
for p in "${kiv_packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || kiv_missing+=("$p")
done
if [ ${#kiv_missing[@]} -gt 0 ]; then
  echo "Installing: ${kiv_missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${kiv_missing[@]}"
fi
# KIV_JOBS caps the parallel build and test jobs (default: every core).
kiv_jobs=${KIV_JOBS:-$(nproc)}
