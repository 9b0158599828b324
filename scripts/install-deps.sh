#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, if missing.
set -euo pipefail

packages=(
  build-essential cmake pkg-config git
  libglib2.0-dev libgtk2.0-dev libssl-dev gettext
  googletest libgtest-dev libbenchmark-dev
  clang libclang-rt-14-dev
  cc1541 cbmconvert avrdude
  xvfb xauth x11-apps imagemagick xdotool
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  echo "Installing: ${missing[*]}"
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi
