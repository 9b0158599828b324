#!/usr/bin/env bash
# Builds the fault campaign and runs a long one under Xvfb: random fault plans
# through the window's dumps, re-reads, loads and restore against dravlen-sim.
#
#   bash scripts/fault_campaign.sh [PLANS] [SEED]      (default 5000 plans, seed 1)
#
# DRAVLEN_CAMPAIGN_JOBS=N splits the plans over N campaigns side by side
# (seeds SEED, SEED+1, ...; they mostly wait on the device, so 2 suit two
# cores); DRAVLEN_CAMPAIGN_TRACKS=40 runs the 40-track build's campaign;
# DRAVLEN_BUILD_DIR picks the build folder (default build).  A plan that
# breaks a rule is printed with its seed, its simulator arguments and the
# command that replays it alone.  The last line gives the plans run, the
# violations and the worst Abort latency.
set -euo pipefail
cd "$(dirname "$0")/.."
plans=${1:-5000}
seed=${2:-1}
jobs=${DRAVLEN_CAMPAIGN_JOBS:-1}
tracks=${DRAVLEN_CAMPAIGN_TRACKS:-35}
build=${DRAVLEN_BUILD_DIR:-build}

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j"$(nproc)" --target "dravlen_fault_campaign$tracks" dravlen-sim >/dev/null
exe="$build/tests/gui/dravlen_fault_campaign$tracks"
start=$(date +%s)
logs=()
pids=()
for ((j = 0; j < jobs; j++)); do
  share=$((plans / jobs + (j < plans % jobs ? 1 : 0)))
  s=$((seed + j))
  log="$build/fault_campaign-$tracks-$s.log"
  logs+=("$log")
  echo "Running $share plans (seed $s, $tracks tracks); full output in $log"
  xvfb-run -a -s "-screen 0 1280x1024x24" "$exe" --seed "$s" --plans "$share" >"$log" 2>/dev/null &
  pids+=($!)
done
status=0
for p in "${pids[@]}"; do
  wait "$p" || status=1
done
for log in "${logs[@]}"; do
  grep -v '^\.\.\. ' "$log" | grep -v '^seed ' || true
done
# Each campaign ends with "seed S, T s: plans run: N, violations: V (in B
# plans), worst abort latency: X ms (A aborts)".
cat "${logs[@]}" | awk -v secs=$(( $(date +%s) - start )) '
  /^seed [0-9]+, / {
    for (i = 1; i <= NF; i++) {
      if ($i == "run:") n += $(i + 1)
      if ($i == "violations:") v += $(i + 1)
      if ($i == "latency:" && $(i + 1) + 0 > worst) worst = $(i + 1) + 0
      if ($i == "ms" && $(i + 1) ~ /^\(/) { a = $(i + 1); gsub(/\(/, "", a); aborts += a }
    }
    runs++
  }
  END {
    if (runs == 0) { print "no campaign finished"; exit 1 }
    printf "plans run: %d, violations: %d, worst abort latency: %.1f ms (%d aborts), %d s\n",
           n, v, worst, aborts, secs
  }'
exit "$status"
