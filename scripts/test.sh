#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite: the normal
# build, the same suite under ASan/UBSan, short runs of every fuzz target, and
# the Debian package (built, checked, installed and removed again).
# Run it as root or as a normal user who may use sudo (for apt-get and dpkg).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc)
# The tests compare the programs' English texts: keep a user's language out.
export LC_ALL=C.UTF-8
unset LANGUAGE

stage_start=$SECONDS
stage_done() { echo "-- $1: $((SECONDS - stage_start)) s"; stage_start=$SECONDS; }

bash scripts/install-deps.sh
stage_done "dependencies"

echo "== Build and test (RelWithDebInfo)"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"
stage_done "build"
# One private X server per job: each GUI test takes a display of its own.
(cd build && bash "$root/scripts/with-displays.sh" "$jobs" ctest --output-on-failure -j"$jobs")
stage_done "tests"

echo "== Build and test under ASan/UBSan"
# GUI tests of 35 tracks only: the 40-track build's memory use is covered by
# the headless unit, engine and command-line tests of both track counts.
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DDRAVLEN_SANITIZE=ON -DDRAVLEN_BENCH=OFF \
  -DDRAVLEN_GUI_TEST_TRACKS=35 >/dev/null
cmake --build build-asan -j"$jobs"
stage_done "sanitizer build"
(cd build-asan && ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 \
   bash "$root/scripts/with-displays.sh" "$jobs" ctest --output-on-failure -j"$jobs")
stage_done "sanitizer tests"

echo "== Fuzz targets (short runs)"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DDRAVLEN_FUZZ=ON -DDRAVLEN_GUI=OFF -DDRAVLEN_TESTS=OFF -DDRAVLEN_BENCH=OFF >/dev/null
cmake --build build-fuzz -j"$jobs"
runs=${DRAVLEN_FUZZ_RUNS:-50000}
fuzz_pass=0
fuzz_fail=0
for f in build-fuzz/fuzz/*_fuzz; do
  [ -x "$f" ] || continue
  name=$(basename "$f")
  # Work on a copy of the seed corpus so runs never write into the tree.
  corpus="build-fuzz/corpus-${name%_fuzz}"
  rm -rf "$corpus"; mkdir -p "$corpus"
  seeds="$root/fuzz/corpus/${name%_fuzz}"
  [ -d "$seeds" ] && cp -r "$seeds/." "$corpus/"
  args=(-runs="$runs" -max_len=210000 -rss_limit_mb=2048 "$corpus")
  if "$f" "${args[@]}" >"build-fuzz/$name.log" 2>&1; then
    echo "fuzz $name: ok ($runs runs)"
    fuzz_pass=$((fuzz_pass + 1))
  else
    echo "fuzz $name: FAILED"; tail -n 40 "build-fuzz/$name.log"
    fuzz_fail=$((fuzz_fail + 1))
  fi
done
echo "fuzz: $fuzz_pass passed, $fuzz_fail failed"
stage_done "fuzz"

echo "== Debian package"
package_status=0
if command -v dpkg-buildpackage >/dev/null && command -v dh >/dev/null &&
   command -v lintian >/dev/null && command -v desktop-file-validate >/dev/null; then
  bash scripts/package.sh || package_status=$?
  stage_done "package"
else
  echo "package: skipped (debhelper, lintian or desktop-file-utils not installed)"
fi

[ "$fuzz_fail" -eq 0 ] && [ "$package_status" -eq 0 ]
