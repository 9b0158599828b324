#!/usr/bin/env bash
# Builds the benchmarks and prints, in one run, the figures the project
# tracks: warp packet decode time, the end-to-end imaging ratio against a
# plain reader of the same stream, the longest main-loop stall, and the
# rescue tools (damage report and map of a full disk, merge of ten dumps).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${DRAVLEN_BUILD_DIR:-build}
runs=${1:-11}

bash scripts/install-deps.sh
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target warp_bench listing_bench rescue_bench imaging_e2e_bench

echo "== Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'), load $(cut -d' ' -f1-3 /proc/loadavg)"

echo "== Warp packet decode"
"$build/bench/warp_bench" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
  | tee "$build/bench/warp_bench.txt"
echo "== Directory listing"
"$build/bench/listing_bench" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
  | tee "$build/bench/listing_bench.txt"
echo "== Rescue tools"
"$build/bench/rescue_bench" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
  | tee "$build/bench/rescue_bench.txt"
echo "== Whole-disk imaging against the simulator"
if [ -n "${DISPLAY:-}" ]; then
  "$build/bench/imaging_e2e_bench" "$runs" | tee "$build/bench/imaging_e2e_bench.txt"
else
  xvfb-run -a -s "-screen 0 1280x1024x24" "$build/bench/imaging_e2e_bench" "$runs" \
    | tee "$build/bench/imaging_e2e_bench.txt"
fi

echo "== Summary"
packet=$(awk '/^BM_ReceivePacket_median/ {print $4, $5}' "$build/bench/warp_bench.txt")
disk=$(awk '/^BM_ReceiveDisk_median/ {print $4, $5}' "$build/bench/warp_bench.txt")
listing=$(awk '/^BM_ListFullDirectory_median/ {print $4, $5}' "$build/bench/listing_bench.txt")
echo "per-packet decode (validate+normalise+decode, CPU median): $packet; whole disk: $disk"
echo "full 144-entry directory listing (CPU median): $listing"
damage=$(awk '/^BM_DamageReportAndMapOfAFullDisk_median/ {print $4, $5}' "$build/bench/rescue_bench.txt")
merge=$(awk '/^BM_MergeTenDumps_median/ {print $4, $5}' "$build/bench/rescue_bench.txt")
echo "damage report and sector map of a full disk (CPU median, limit 1 ms): $damage"
echo "merge of ten dumps (CPU median, limit 50 ms): $merge"
grep '^median:' "$build/bench/imaging_e2e_bench.txt" || true
