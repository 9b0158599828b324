#!/usr/bin/env bash
# Installs what is missing, builds, and runs the client.
#
# With a board plugged in (/dev/ttyACM0) the client starts with your own
# configuration. Without one, the client talks to the simulator (dravlen-sim)
# on a pseudo-terminal, with a demo disk in drive 8 that has a few programs
# and some bad sectors, paced like a real 1541. That session uses a private
# configuration folder under the build tree, so your own settings are never
# touched. The simulator is stopped when the client quits.
#
# Run as root, or as a normal user who may use sudo (missing packages are
# installed through it). When started through sudo, the simulator and the
# client run as the calling user.
#
# Environment of this script (the client itself reads none):
#   DRAVLEN_BUILD_DIR=DIR      build folder (default: build)
#   DRAVLEN_DEMO_SIM=1         use the simulator even with a board attached
#   DRAVLEN_DEMO_AUTOSTART=1   unattended run, always against the simulator:
#                              image the demo disk (F1), save it, quit. Needs
#                              an X display (xvfb-run) and xdotool. The exit
#                              status is 0 only if the image and its log were
#                              written.
#   DRAVLEN_DEMO_TIMEOUT=SEC   limit of the unattended run (default 300)
#   DRAVLEN_DEMO_SCREENSHOT=PNG  unattended run: also save a picture of the
#                              main window once the image is saved (a path
#                              relative to the top of the checkout)
set -euo pipefail
cd "$(dirname "$0")/.."
autostart=${DRAVLEN_DEMO_AUTOSTART:-0}
build=$(realpath -m "${DRAVLEN_BUILD_DIR:-build}")

bash scripts/install-deps.sh
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target dravlen-client dravlen-sim

client=$build/dravlen-client
sim=$build/sim/dravlen-sim

if [ -z "${DISPLAY:-}" ]; then
  echo "No X display (DISPLAY is not set): start this from a desktop session," >&2
  echo "or unattended with: DRAVLEN_DEMO_AUTOSTART=1 xvfb-run -a bash scripts/demo.sh" >&2
  exit 1
fi

# Through sudo, run the programs as the caller: their configuration is the
# one that counts, the serial port permissions (dialout) are theirs, and the
# files the demo writes stay theirs.
as_user=()
user=""
if [ "$(id -u)" -eq 0 ] && [ -n "${SUDO_USER:-}" ] && [ "$SUDO_USER" != root ]; then
  user=$SUDO_USER
  home=$(getent passwd "$user" | cut -d: -f6)
  as_user=(setpriv --reuid="$user" --regid="$(id -g "$user")" --init-groups --
           env HOME="$home" USER="$user" LOGNAME="$user")
fi

if [ "$autostart" != 1 ] && [ "${DRAVLEN_DEMO_SIM:-0}" != 1 ] && [ -e /dev/ttyACM0 ]; then
  echo "A board is attached (/dev/ttyACM0): starting the client with your own configuration."
  echo "If it cannot reach the board, set the port in Configuration > Connection settings"
  echo "(see \"Using a real board\" in README.md)."
  exec "${as_user[@]}" "$client"
fi

demo=$build/demo
config=$demo/config
images=$demo/d64
port=$demo/dravlen-port
disk=$demo/demo.d64
mkdir -p "$config/dravlen-client" "$images"

if [ ! -f "$disk" ] || [ scripts/make_demo_disk.sh -nt "$disk" ]; then
  bash scripts/make_demo_disk.sh "$disk"
fi

# file:// URI of a path, as the options file stores folders.
file_uri() {
  local LC_ALL=C path=$1 out="file://" c i
  for ((i = 0; i < ${#path}; i++)); do
    c=${path:i:1}
    case $c in
      [A-Za-z0-9/._~-]) out+=$c ;;
      *) out+=$(printf '%%%02X' "'$c") ;;
    esac
  done
  printf '%s\n' "$out"
}

# The private options file: the device port is the simulator's link and
# images go to the demo folder. Settings changed in an earlier demo session
# are kept; only these two keys are put back.
ini=$config/dravlen-client/user.ini
if [ ! -f "$ini" ]; then
  cat >"$ini" <<EOF
# Dravlen client config file - do NOT edit
[connection]
device_port=
bootloader_port=

[directories]
d64_dir=
EOF
fi
PORT=$port D64_DIR=$(file_uri "$images") awk '
  /^device_port=/ { print "device_port=" ENVIRON["PORT"]; next }
  /^d64_dir=/ { print "d64_dir=" ENVIRON["D64_DIR"]; next }
  { print }' "$ini" >"$ini.new"
mv "$ini.new" "$ini"
chmod 700 "$config/dravlen-client"
if [ -n "$user" ]; then
  chown -R "$user:$(id -g "$user")" "$demo"
fi

sim_pid=""
client_pid=""
stop_all() {
  if [ -n "$client_pid" ] && kill -0 "$client_pid" 2>/dev/null; then
    kill "$client_pid" 2>/dev/null || true
  fi
  if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
}
trap stop_all EXIT
trap 'exit 130' INT TERM

rm -f "$port"
"${as_user[@]}" "$sim" --link "$port" --drive 8="$disk" --drive-timing >"$demo/sim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do
  grep -q '^READY' "$demo/sim.out" 2>/dev/null && break
  kill -0 "$sim_pid" 2>/dev/null || break
  sleep 0.1
done
if ! grep -q '^READY' "$demo/sim.out"; then
  echo "The simulator did not start:" >&2
  cat "$demo/sim.out" >&2
  exit 1
fi

echo "Simulator running: device 8 holds $disk"
echo "Device port: $port (set in the private configuration $ini)"
echo "Saved images go to $images"

if [ "$autostart" != 1 ]; then
  echo "Press F1 (Warpsave the whole disk) to image the demo disk."
  XDG_CONFIG_HOME=$config "${as_user[@]}" "$client" || true
  exit 0
fi

# Unattended: drive the window with xdotool. Without a window manager the
# keyboard focus has to be handed to each window before typing into it.
if ! command -v xdotool >/dev/null; then
  echo "xdotool is missing (Debian package xdotool)" >&2
  exit 1
fi
# A fresh image folder, so that saving never stops at an overwrite question.
find "$images" -mindepth 1 -maxdepth 1 -type f -delete
deadline=$((SECONDS + ${DRAVLEN_DEMO_TIMEOUT:-300}))
# The windows are found by their English titles.
export LC_ALL=C.UTF-8
unset LANGUAGE
marker=$demo/.autostart
touch "$marker"
session_start=$SECONDS
XDG_CONFIG_HOME=$config "${as_user[@]}" "$client" >"$demo/client.out" 2>&1 &
client_pid=$!

say() { echo "demo: $*"; }
fail() {
  say "FAILED: $*"
  # What was on screen, for whoever reads the failure.
  if command -v xwd >/dev/null && command -v convert >/dev/null &&
     xwd -root -silent 2>/dev/null | convert xwd:- "$demo/failure.png" 2>/dev/null; then
    say "screen at the failure: $demo/failure.png"
  fi
  [ -s "$demo/client.out" ] && { echo "--- client output"; tail -n 30 "$demo/client.out"; }
  exit 1
}
find_window() {
  { xdotool search --onlyvisible --name "$1" 2>/dev/null || true; } | head -n 1
}
# Waits for a visible window whose title matches; prints its id.
wait_window() {
  local id
  while [ $SECONDS -lt $deadline ]; do
    id=$(find_window "$1")
    if [ -n "$id" ]; then echo "$id"; return 0; fi
    kill -0 "$client_pid" 2>/dev/null || return 1
    sleep 0.5
  done
  return 1
}
type_into() {
  local id=$1
  shift
  xdotool windowfocus "$id" 2>/dev/null || true
  sleep 0.3
  # The window may go away between press and release; the callers check
  # what the keys achieved.
  xdotool key --window "$id" --clearmodifiers "$@" 2>/dev/null || true
}

main=$(wait_window '^Dravlen client') || fail "the main window did not appear"
sleep 1
say "window up, pressing F1"
type_into "$main" F1

# Imaging ends with the save chooser; a notice about the disk may come first.
saved=""
while [ $SECONDS -lt $deadline ]; do
  kill -0 "$client_pid" 2>/dev/null || fail "the client ended during imaging"
  id=$(find_window '^Notice$')
  if [ -n "$id" ]; then
    say "closing a notice"
    type_into "$id" Return
  fi
  id=$(find_window '^Save disk image to D64$')
  if [ -n "$id" ]; then
    say "imaging done, saving under the suggested name"
    # A key that reaches the chooser before it takes input is lost: press
    # again for as long as the chooser is still up.
    for _ in $(seq 40); do
      if [ -n "$(find_window '^Save disk image to D64$')" ]; then
        sleep 0.5
        type_into "$id" Return
      fi
      saved=$(find "$images" -maxdepth 1 -newer "$marker" -iname '*.d64' | head -n 1)
      [ -n "$saved" ] && [ -s "$saved.log" ] && break
      sleep 0.5
    done
    break
  fi
  sleep 0.5
done
if [ -z "$saved" ] && [ $SECONDS -ge $deadline ]; then
  fail "imaging did not end within ${DRAVLEN_DEMO_TIMEOUT:-300} s"
fi
[ -n "$saved" ] || fail "no image was saved in $images"
grep -q '^Completed$' "$saved.log" || fail "the log beside the image does not end in Completed"
say "saved $saved ($(stat -c %s "$saved") bytes)"

if [ -n "${DRAVLEN_DEMO_SCREENSHOT:-}" ]; then
  # Keep the pointer off the window so that no tooltip covers it.
  xdotool mousemove 4000 4000 2>/dev/null || true
  sleep 1.5
  if xwd -id "$main" -silent | convert xwd:- "$DRAVLEN_DEMO_SCREENSHOT"; then
    say "picture of the window: $DRAVLEN_DEMO_SCREENSHOT"
  else
    fail "no picture of the window"
  fi
fi

type_into "$main" ctrl+q
confirm=$(wait_window '^Confirmation$') || fail "the quit question did not appear"
type_into "$confirm" alt+y
for _ in $(seq 40); do
  kill -0 "$client_pid" 2>/dev/null || break
  sleep 0.25
done
if kill -0 "$client_pid" 2>/dev/null; then
  fail "the client did not quit"
fi
wait "$client_pid" || fail "the client exited with status $?"
client_pid=""
say "client quit; $((SECONDS - session_start)) s from its start, $SECONDS s in all"
