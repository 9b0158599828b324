#!/usr/bin/env bash
# Writes screenshots/demo_imaged.png: the main window once the demo disk has
# been imaged through the simulator and saved, taken by the unattended demo
# under Xvfb.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
mkdir -p screenshots
DRAVLEN_BUILD_DIR=$build DRAVLEN_DEMO_AUTOSTART=1 DRAVLEN_DEMO_SCREENSHOT=screenshots/demo_imaged.png \
  xvfb-run -a -s "-screen 0 1280x1024x24" bash scripts/demo.sh
ls -l screenshots/demo_imaged.png
