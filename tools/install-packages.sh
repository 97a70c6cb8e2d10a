#!/usr/bin/env bash
# Installs the Debian packages Tavrin builds, tests and runs with. Called by both README commands
# and by .ci/run; does nothing (and needs no network) when everything is already installed.
set -euo pipefail
packages=(
  cmake g++ ninja-build pkg-config
  liblua5.1-0-dev libcurl4-openssl-dev qt6-base-dev zlib1g-dev
  libgtest-dev libbenchmark-dev
  xmltv-util libxml2-utils libxml2-dev python3 python3-aiosmtpd tmux
  xvfb xdotool imagemagick time
  man-db groff-base desktop-file-utils
  clang libclang-rt-14-dev
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
