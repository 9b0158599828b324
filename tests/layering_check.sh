#!/usr/bin/env bash
# Checks which folders include which: the engine and the command line stay
# free of GTK and of the windows, the low modules free of GTK, the window's
# folders (gui/app/, gui/jobs/, gui/windows/) include each other in one
# direction only, and gui/drawing/ includes no other folder of gui/.
# Usage: layering_check.sh SOURCE_DIR
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"

status=0
complain() { echo "layering: $*"; status=1; }

# Project headers a folder's files include: "FROM TO FILE" per line, TO being
# the folder of the included header (gui/<sub> below gui/).
edges() {
  for dir in "$@"; do
    for f in "$dir"/*.cpp "$dir"/*.h; do
      [ -e "$f" ] || continue
      { grep -oE '^#include "[a-z0-9_/]+/' "$f" || true; } |
        sed -E 's/#include "//; s/\/$//; /^gui\//{s/^(gui\/[a-z0-9_]+).*/\1/;b}; s/^([a-z0-9_]+)\/.*/\1/' |
        while read -r to; do if [ "$to" != "$dir" ]; then echo "$dir $to $f"; fi; done
    done
  done | sort -u
}

for dir in gcr image device engine cli; do
  for f in "$dir"/*.cpp "$dir"/*.h; do
    [ -e "$f" ] || continue
    if grep -qE '^#include <(gtk|gdk)/' "$f"; then complain "$f includes GTK"; fi
  done
done

for dir in engine cli; do
  while read -r from to file; do
    case $to in
      gui|gui/*) complain "$file includes $to/" ;;
    esac
  done < <(edges "$dir")
done

# gui/app/ (start-up, the window's controls) sits on top of gui/jobs/ (the
# operation framework and what each job does), which sits on top of
# gui/windows/ (the windows, dialogs and the log).
rank() { case $1 in gui/app) echo 3 ;; gui/jobs) echo 2 ;; gui/windows) echo 1 ;; *) echo 0 ;; esac; }
while read -r from to file; do
  if [ "$(rank "$to")" -ge "$(rank "$from")" ] && [ "$(rank "$to")" -gt 0 ]; then
    complain "$file ($from/) includes $to/"
  fi
done < <(edges gui/app gui/jobs gui/windows)

# gui/drawing/ (C64 pixbufs, palette, text screens, the directory panel's
# drawing) draws for the windows and knows none of them.
while read -r from to file; do
  case $to in
    gui/*) complain "$file ($from/) includes $to/" ;;
  esac
done < <(edges gui/drawing)

[ $status -eq 0 ] && echo "layering: ok"
exit $status
