#!/usr/bin/env bash
# Runs a command with N private X servers (Xvfb, 1280x1024x24), listed in
# DRAVLEN_TEST_DISPLAYS for the GUI tests, which take one each and so run N
# at a time; DISPLAY is the first.  The servers stop when the command ends.
#
# Usage: bash scripts/with-displays.sh N command [args...]
set -euo pipefail
count=${1:?usage: $0 N command [args...]}
shift
[ $# -gt 0 ] || { echo "usage: $0 N command [args...]" >&2; exit 2; }

pids=()
displays=()
work=$(mktemp -d /tmp/dravlen-displays.XXXXXX)
stop() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap stop EXIT

for i in $(seq "$count"); do
  # -displayfd: the server picks a free number and writes it once it is
  # ready to take clients.
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp \
    3>"$work/display$i" >"$work/xvfb$i.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 200); do
    [ -s "$work/display$i" ] && break
    kill -0 "${pids[-1]}" 2>/dev/null || break
    sleep 0.05
  done
  if ! [ -s "$work/display$i" ]; then
    echo "with-displays: Xvfb did not start" >&2
    cat "$work/xvfb$i.log" >&2
    exit 1
  fi
  displays+=(":$(tr -d '[:space:]' <"$work/display$i")")
done

export DRAVLEN_TEST_DISPLAYS="${displays[*]}"
export DISPLAY=${displays[0]}
# No cookies on these servers: a user's XAUTHORITY has none for them.
unset XAUTHORITY
status=0
"$@" || status=$?
exit "$status"
