#!/usr/bin/env bash
# Checks which folders include which.
#
# The rule: every folder has a level, and a file includes project headers
# only from its own folder and from folders of a lower level.
#   0 gcr/                        GCR coding, nothing of the project below it
#   1 image/ device/              the image store and files; the board's link
#   2 engine/                     every job, with no user interface
#   3 cli/ sim/ gui/drawing/      the command line; the simulator; the C64 drawing
#   4 gui/windows/                the windows, dialogs and the log
#   5 gui/jobs/                   the operation framework and what each job does
#   6 gui/app/                    start-up, the menu table, the controls
# Below gui/, each subfolder counts as a folder of its own.  Folders of one
# level do not include each other either.  The core (gcr/, image/, device/,
# engine/) and the command line include no GTK.
#
# Besides the levels, the folder-level include graph must have no circle.
# Every edge "FROM TO" (a file in FROM includes a header of TO) of every
# source folder, ranked or not, goes to tsort(1), which fails on a graph with
# a loop and names the folders on it.  Levels imply no circle among the
# ranked folders; the tsort pass also covers folders that have no level yet
# (bench/, fuzz/, a new one) and holds however the levels change.
#
# Usage: layering_check.sh SOURCE_DIR
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"

# Known exceptions, "FILE FOLDER" per line: FILE may still include headers of
# FOLDER.  They are being removed; this list is to shrink to nothing, and no
# line is to be added to it.  Its edges are left out of the circle check too.
ALLOWED=""

status=0
complain() { echo "layering: $*"; status=1; }

level() {
  case $1 in
    gcr) echo 0 ;;
    image | device) echo 1 ;;
    engine) echo 2 ;;
    cli | sim | gui/drawing) echo 3 ;;
    gui/windows) echo 4 ;;
    gui/jobs) echo 5 ;;
    gui/app) echo 6 ;;
    *) echo "" ;;
  esac
}

allowed() { grep -qxF "$1 $2" <<<"$ALLOWED"; }

# Project headers the files of the folders include: "FROM TO FILE" per line,
# a folder below gui/ standing as gui/<sub>.
edges() {
  for dir in "$@"; do
    [ -d "$dir" ] || continue
    find "$dir" \( -name '*.cpp' -o -name '*.h' \) -print | sort | while read -r f; do
      from=$dir
      case $f in gui/*/*) from=$(echo "$f" | cut -d/ -f1-2) ;; esac
      { grep -oE '^#include "[a-z0-9_/]+/' "$f" || true; } |
        sed -E 's/#include "//; s/\/$//; /^gui\//{s/^(gui\/[a-z0-9_]+).*/\1/;b}; s/^([a-z0-9_]+)\/.*/\1/' |
        while read -r to; do if [ "$to" != "$from" ]; then echo "$from $to $f"; fi; done
    done
  done | sort -u
}

for dir in gcr image device engine cli; do
  while read -r f; do
    if grep -qE '^#include <(gtk|gdk)/' "$f"; then complain "$f includes GTK"; fi
  done < <(find "$dir" \( -name '*.cpp' -o -name '*.h' \) -print)
done

ranked="gcr image device engine cli sim gui"
while read -r from to file; do
  allowed "$file" "$to" && continue
  to_level=$(level "$to")
  if [ -z "$to_level" ] || [ "$to_level" -ge "$(level "$from")" ]; then
    complain "$file ($from/) includes $to/"
  fi
done < <(edges $ranked)

# Every folder with sources takes part in the circle check; tests/ is left
# out: it reaches into everything and nothing includes it but itself, bench/
# and the fuzzers.
folders=$(find . -mindepth 1 -maxdepth 1 -type d ! -name '.*' ! -name build ! -name 'build-*' \
  ! -name tests -printf '%f\n' | sort)
graph=$(edges $folders | while read -r from to file; do
  allowed "$file" "$to" || echo "$from $to"
done | sort -u)
if ! loop=$(tsort <<<"$graph" 2>&1 >/dev/null) || [ -n "$loop" ]; then
  complain "the folders include each other in a circle:"
  echo "$loop"
fi

[ $status -eq 0 ] && echo "layering: ok"
exit $status
