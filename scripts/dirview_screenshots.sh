#!/usr/bin/env bash
# Screenshots of the directory panel (both builds) for a 20-file disk made
# with cc1541, taken under Xvfb and written to screenshots/.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${1:-build}
cmake -S . -B "$build" >/dev/null
cmake --build "$build" -j2 --target dravlen_gui_tests35 dravlen_gui_tests40
mkdir -p "$root/screenshots"
for t in 35 40; do
  DRAVLEN_SCREENSHOT_DIR="$root/screenshots" xvfb-run -a -s "-screen 0 1280x1024x24" \
    "$build/tests/gui/dravlen_gui_tests$t" --gtest_filter='DirviewScreenshots.*'
done
ls -l "$root"/screenshots/dirview*.png
