#!/usr/bin/env bash
# Builds the fault campaign and runs a long one under Xvfb: random fault plans
# through the window's dumps, re-reads, loads and restore against dravlen-sim.
#
#   bash scripts/fault_campaign.sh [PLANS] [SEED]      (default 5000 plans, seed 1)
#
# DRAVLEN_CAMPAIGN_TRACKS=40 runs the 40-track build's campaign instead;
# DRAVLEN_BUILD_DIR picks the build folder (default build).  A plan that
# breaks a rule is printed with its seed, its simulator arguments and the
# command that replays it alone.  The last line gives the plans run, the
# violations and the worst Abort latency.
set -euo pipefail
cd "$(dirname "$0")/.."
plans=${1:-5000}
seed=${2:-1}
tracks=${DRAVLEN_CAMPAIGN_TRACKS:-35}
build=${DRAVLEN_BUILD_DIR:-build}

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j"$(nproc)" --target "dravlen_fault_campaign$tracks" dravlen-sim >/dev/null
exe="$build/tests/gui/dravlen_fault_campaign$tracks"
log="$build/fault_campaign-$tracks-$seed.log"
echo "Running $plans plans (seed $seed, $tracks tracks); full output in $log"
status=0
xvfb-run -a -s "-screen 0 1280x1024x24" "$exe" --seed "$seed" --plans "$plans" 2>/dev/null \
  | tee "$log" | grep -v '^\.\.\. ' || status=$?
tail -n 1 "$log"
exit "$status"
