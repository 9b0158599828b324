#!/usr/bin/env bash
# Writes the demo disk: a 35-track D64 made with cc1541 holding a few
# programs, followed by a block of per-sector error bytes so that the
# simulator plays a worn floppy (checksum errors, bad GCR, a missing sync).
#   bash scripts/make_demo_disk.sh OUT.d64
# Only bash, coreutils and cc1541 are needed; the result is the same on
# every run.
set -euo pipefail

if [ $# -ne 1 ]; then
  echo "usage: $0 OUT.d64" >&2
  exit 2
fi
out=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A one-line BASIC program: 10 PRINT"<text>" (upper case ASCII is PETSCII).
basic_print() {
  local text=$1 file=$2
  local len=${#text}
  local next=$((0x0801 + 2 + 2 + 1 + 1 + len + 1 + 1))
  {
    printf '\x01\x08'
    printf "\\x$(printf %02x $((next & 255)))\\x$(printf %02x $((next >> 8)))"
    printf '\x0a\x00\x99\x22'
    printf '%s' "$text"
    printf '\x22\x00\x00\x00'
  } >"$file"
}

# Filler of a given size with a recognisable pattern, loaded at $c000.
pattern_prg() {
  local size=$1 label=$2 file=$3
  { printf '\x00\xc0'; head -c "$size" < <(yes "$label" | tr '\n' ' '); } >"$file"
}

basic_print "HELLO FROM THE DRAVLEN DEMO DISK" "$work/hello.prg"
basic_print "THIS SECTOR WAS HARD TO READ" "$work/worn.prg"
pattern_prg 9000 "GAME LEVEL DATA" "$work/game.prg"
pattern_prg 5200 "CHARSET" "$work/font.prg"
pattern_prg 16000 "MUSIC" "$work/music.prg"
head -n 40 < <(yes "A SEQUENTIAL FILE") >"$work/notes.seq"

rm -f "$out"
# cc1541 turns lower case ASCII into the unshifted PETSCII letters a C64
# lists as capitals.
cc1541 -q -n "dravlen demo" -i "dv 2a" \
  -f "hello" -w "$work/hello.prg" \
  -f "game" -w "$work/game.prg" \
  -f "worn" -w "$work/worn.prg" \
  -f "font" -w "$work/font.prg" \
  -f "music" -w "$work/music.prg" \
  -f "notes" -T SEQ -w "$work/notes.seq" \
  "$out" >/dev/null

size=$(stat -c %s "$out")
if [ "$size" -ne 174848 ]; then
  echo "$0: cc1541 wrote $size bytes, expected a plain 35-track image" >&2
  exit 1
fi

sectors_of_track() {
  local t=$1
  if [ "$t" -le 17 ]; then echo 21
  elif [ "$t" -le 24 ]; then echo 19
  elif [ "$t" -le 30 ]; then echo 18
  else echo 17
  fi
}

block_index() {
  local t=$1 s=$2 i=0 k
  for ((k = 1; k < t; k++)); do i=$((i + $(sectors_of_track "$k"))); done
  echo $((i + s))
}

byte_at() {
  od -An -tu1 -j "$1" -N1 "$out" | tr -d ' '
}

# First track and sector of the n-th directory entry (0-based, first
# directory sector only: the demo has fewer than eight files).
file_start() {
  local base=$(( $(block_index 18 1) * 256 + $1 * 32 ))
  echo "$(byte_at $((base + 3))) $(byte_at $((base + 4)))"
}

# Error bytes: 0x01 (read fine) everywhere, then the damage.
head -c 683 /dev/zero | tr '\0' '\1' >"$work/errors"
mark() {
  local t=$1 s=$2 code=$3
  printf "\\x$code" | dd of="$work/errors" bs=1 seek="$(block_index "$t" "$s")" conv=notrunc status=none
}

read -r worn_t worn_s < <(file_start 2)
read -r game_t game_s < <(file_start 1)
game_off=$(( $(block_index "$game_t" "$game_s") * 256 ))
game2_t=$(byte_at "$game_off")
game2_s=$(byte_at $((game_off + 1)))

mark "$worn_t" "$worn_s" 05   # the whole of WORN: data checksum error
mark "$game2_t" "$game2_s" 09 # second block of GAME: GCR that does not decode
mark 1 0 05
mark 5 7 09
mark 30 3 03                   # no sync: an erased spot
mark 35 16 05

cat "$work/errors" >>"$out"
