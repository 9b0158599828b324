#!/usr/bin/env bash
# Writes screenshots/settings_*.png: the three settings windows and the font
# and colour dialogs, rendered under Xvfb by the GUI test program.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
cmake -S . -B "$build" >/dev/null
cmake --build "$build" -j2 --target dravlen_gui_tests35
DRAVLEN_SCREENSHOT_DIR="$(pwd)/screenshots" xvfb-run -a -s "-screen 0 1280x1024x24" \
  "$build/tests/gui/dravlen_gui_tests35" --gtest_filter='SettingsScreenshots.*'
ls -l screenshots/settings_*.png
