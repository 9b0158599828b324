#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, if missing.
# Works as root (no sudo needed, as in a container) and as a normal user who
# may use sudo, which is then called for apt-get only.
set -euo pipefail

packages=(
  build-essential cmake pkg-config git
  libglib2.0-dev libgtk2.0-dev libjson-glib-dev gettext
  googletest libgtest-dev libbenchmark-dev
  clang libclang-rt-14-dev
  cc1541 cbmconvert avrdude
  xvfb xauth x11-apps imagemagick xdotool
  debhelper lintian desktop-file-utils appstream bash-completion
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  as_root=()
  if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null; then
      echo "Missing Debian packages: ${missing[*]}" >&2
      echo "Run this as root, or install sudo, to have them installed." >&2
      exit 1
    fi
    as_root=(sudo)
  fi
  echo "Installing: ${missing[*]}"
  "${as_root[@]}" apt-get update
  # Through env, since sudo drops the caller's environment.
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y --no-install-recommends "${missing[@]}"
fi
