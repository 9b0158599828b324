#!/usr/bin/env bash
# First-run check: what a newcomer gets from the README on a clean checkout.
# Clones the repository into a fresh folder and runs scripts/demo.sh there
# unattended under Xvfb: packages, build, simulator with the demo disk,
# imaging with F1, saving the image, quitting. Then checks the result
# against the demo disk and prints PASS or FAIL.
#
#   bash scripts/first_run_check.sh [--tests] [--keep] [REPOSITORY]
#
#   --tests      afterwards also run scripts/test.sh in the clone (long)
#   --keep       keep the clone even when the check passes
#   REPOSITORY   what to clone (default: the repository of this script)
#
# Time limits: DRAVLEN_CHECK_TIMEOUT (seconds, default 1800) for the whole
# demo run including a cold build on a small machine; the unattended
# session itself (client start to quit) is held to DRAVLEN_DEMO_TIMEOUT
# (default 300) by the demo script.
set -uo pipefail

run_tests=0
keep=0
repo=""
for a in "$@"; do
  case $a in
    --tests) run_tests=1 ;;
    --keep) keep=1 ;;
    -*) echo "usage: $0 [--tests] [--keep] [REPOSITORY]" >&2; exit 2 ;;
    *) repo=$a ;;
  esac
done
[ -n "$repo" ] || repo=$(git -C "$(dirname "$0")" rev-parse --show-toplevel)
limit=${DRAVLEN_CHECK_TIMEOUT:-1800}

for tool in git xvfb-run timeout; do
  if ! command -v "$tool" >/dev/null; then
    echo "FAIL: $tool is missing (run: bash scripts/install-deps.sh)"
    exit 1
  fi
done

work=$(mktemp -d /tmp/dravlen-first-run.XXXXXX)
# Through sudo the demo runs the programs as the caller, who must reach them.
chmod 755 "$work"
clone=$work/dravlen
log=$work/demo.log
start=$SECONDS

finish() {
  local verdict=$1 why=$2
  echo
  if [ "$verdict" = PASS ]; then
    echo "PASS: $why ($((SECONDS - start)) s)"
    [ "$keep" = 1 ] && echo "clone kept in $clone" || rm -rf "$work"
    exit 0
  fi
  echo "FAIL: $why ($((SECONDS - start)) s)"
  echo "the clone and the demo output are kept in $work"
  exit 1
}

# The user's own options file must come out of the demo untouched.
user_home=$HOME
if [ "$(id -u)" -eq 0 ] && [ -n "${SUDO_USER:-}" ] && [ "$SUDO_USER" != root ]; then
  user_home=$(getent passwd "$SUDO_USER" | cut -d: -f6)
fi
real_ini=${XDG_CONFIG_HOME:-$user_home/.config}/dravlen-client/user.ini
ini_before=$(stat -c '%Y %s' "$real_ini" 2>/dev/null || echo absent)

echo "== Cloning $repo into $clone"
git clone -q "$repo" "$clone" || finish FAIL "git clone failed"

echo "== Running the demo unattended under Xvfb (limit $limit s; output in $log)"
run_demo() {
  (
    cd "$clone" &&
    DRAVLEN_DEMO_AUTOSTART=1 timeout --kill-after=15 "$limit" \
      xvfb-run -a -s "-screen 0 1280x1024x24" bash scripts/demo.sh
  ) >"$log" 2>&1
}
run_demo
status=$?
# xvfb-run -a can pick the same display as another one starting at that
# moment; once more then (the build is done by now).
if [ $status -ne 0 ] && grep -q "cannot open display" "$log"; then
  echo "the X server was not reachable, trying once more"
  run_demo
  status=$?
fi
grep '^demo: ' "$log" || true
if [ $status -ne 0 ]; then
  tail -n 25 "$log"
  [ $status -eq 124 ] && finish FAIL "the demo did not finish within $limit s"
  finish FAIL "the demo exited with status $status"
fi

build=$clone/build
sim_left=$(pgrep -f "^$build/sim/dravlen-sim" || true)
if [ -n "$sim_left" ]; then
  for pid in $sim_left; do kill "$pid" 2>/dev/null || true; done
  finish FAIL "the simulator was still running after the client quit"
fi

disk=$build/demo/demo.d64
mapfile -t images < <(find "$build/demo/d64" -maxdepth 1 -type f -iname '*.d64')
[ ${#images[@]} -eq 1 ] || finish FAIL "expected one saved image, found ${#images[@]}"
image=${images[0]}
echo "== Checking $image"

# The disk has bad sectors, so the image carries error bytes; they must be
# the ones the simulator played, and every good sector must match the disk.
size=$(stat -c %s "$image")
[ "$size" -eq 175531 ] || finish FAIL "the image has $size bytes, expected 175531 (35 tracks with error bytes)"
cmp -s <(tail -c 683 "$image") <(tail -c 683 "$disk") ||
  finish FAIL "the error bytes of the image differ from the demo disk's"
mapfile -t codes < <(tail -c 683 "$disk" | od -An -v -tu1 -w1)
while read -r offset _ _; do
  block=$(((offset - 1) / 256))
  if [ "$block" -ge 683 ]; then continue; fi
  if [ "${codes[$block]// /}" -eq 1 ]; then
    finish FAIL "sector block $block was read fine but its data differs from the disk"
  fi
done < <(cmp -l "$image" "$disk" || true)
grep -q '^Completed$' "$image.log" || finish FAIL "the image's log does not say Completed"

ini_after=$(stat -c '%Y %s' "$real_ini" 2>/dev/null || echo absent)
[ "$ini_before" = "$ini_after" ] || finish FAIL "the demo changed $real_ini"

if [ "$run_tests" = 1 ]; then
  echo "== Running scripts/test.sh in the clone"
  (cd "$clone" && bash scripts/test.sh) >"$work/test.log" 2>&1 ||
    { tail -n 40 "$work/test.log"; finish FAIL "scripts/test.sh failed (log: $work/test.log)"; }
fi

finish PASS "demo imaged the disk: $(basename "$image"), error bytes as played, good sectors identical"
