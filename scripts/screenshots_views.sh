#!/usr/bin/env bash
# Writes screenshots/grid_*.png, grid40_*.png and sector_contents_*.png: the
# sector grid after a mixed-status image is loaded (main window and the PNG
# export, 2x and 4x) and the sector contents window in both fonts, rendered
# under Xvfb by the GUI test programs.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
cmake -S . -B "$build" >/dev/null
cmake --build "$build" -j2 --target dravlen_gui_tests35 dravlen_gui_tests40
mkdir -p screenshots
for t in 35 40; do
  DRAVLEN_SCREENSHOT_DIR="$(pwd)/screenshots" xvfb-run -a -s "-screen 0 1280x1024x24" \
    "$build/tests/gui/dravlen_gui_tests$t" --gtest_filter='GridScreenshots.*'
done
ls -l screenshots/grid*.png screenshots/sector_contents_*.png
