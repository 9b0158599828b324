#!/usr/bin/env bash
# Builds the Debian package in a temporary copy of the tree (the checkout
# stays clean), lists its contents, runs lintian, desktop-file-validate and
# appstreamcli on it, then installs it with dpkg -i and removes it with
# dpkg -r, checking that its files appear and go again.
#
# Usage: bash scripts/package.sh [--keep] [--no-install]
#   --keep        keep the temporary folder (the .deb and the build logs)
#   --no-install  stop before dpkg -i (no root or sudo needed)
# Installing needs root; as a normal user sudo is used.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
keep=0
install=1
for arg in "$@"; do
  case $arg in
    --keep) keep=1 ;;
    --no-install) install=0 ;;
    *) echo "usage: $0 [--keep] [--no-install]" >&2; exit 2 ;;
  esac
done

for tool in dpkg-buildpackage dh lintian desktop-file-validate; do
  if ! command -v "$tool" >/dev/null; then
    echo "package: $tool is missing (run scripts/install-deps.sh)" >&2
    exit 1
  fi
done

start=$SECONDS
work=$(mktemp -d /tmp/dravlen-package.XXXXXX)
cleanup() {
  if [ "$keep" = 1 ]; then echo "package: kept $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT

failures=0
fail() { echo "package: FAIL: $*"; failures=$((failures + 1)); }
ok() { echo "package: ok: $*"; }

# The tree as git sees it, with uncommitted changes and new files, but no
# build folders or other ignored files.
src=$work/dravlen-client
mkdir -p "$src"
git ls-files -z --cached --others --exclude-standard |
  while IFS= read -r -d '' f; do [ -e "$f" ] && printf '%s\0' "$f"; done |
  tar -cf - --null -T - | tar -xf - -C "$src"

# Rebuilds of the same tree hit the compiler cache, although every run
# builds in a new folder (which the prefix maps hide from the objects).
if command -v ccache >/dev/null; then
  export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
  export CCACHE_BASEDIR=$src CCACHE_NOHASHDIR=1
  export CCACHE_IGNOREOPTIONS="-ffile-prefix-map=* -fdebug-prefix-map=*"
fi
echo "package: building in $src"
build_start=$SECONDS
if ! (cd "$src" && DEB_BUILD_OPTIONS="nocheck parallel=${DRAVLEN_PACKAGE_JOBS:-2}" \
        dpkg-buildpackage -us -uc -b >"$work/build.log" 2>&1); then
  tail -n 60 "$work/build.log"
  echo "package: FAIL: dpkg-buildpackage (log: $work/build.log)"
  keep=1
  exit 1
fi
echo "package: dpkg-buildpackage took $((SECONDS - build_start)) s"
# What dpkg-buildpackage leaves behind must stay in the copy.
for f in debian/files debian/tmp debian/dravlen-client debian/.debhelper obj-*; do
  [ -e "$root/$f" ] && fail "the build wrote $f into the checkout"
done

deb=$(ls "$work"/dravlen-client_*.deb)
changes=$(ls "$work"/dravlen-client_*.changes)
echo "== Contents of $(basename "$deb")"
dpkg-deb -c "$deb" | awk '{ print $1, $6, $7, $8 }'
contents=$(dpkg-deb -c "$deb" | awk '{ print $6 }' | sed 's|^\./|/|')

expected=(
  /usr/bin/dravlen-client
  /usr/bin/dravlen-client40
  /usr/share/man/man1/dravlen-client.1.gz
  /usr/share/man/man1/dravlen-client40.1.gz
  /usr/share/applications/dravlen-client.desktop
  /usr/share/metainfo/dravlen-client.metainfo.xml
  /usr/share/icons/hicolor/scalable/apps/dravlen-client.svg
  /usr/share/icons/hicolor/48x48/apps/dravlen-client.png
  /usr/share/icons/hicolor/128x128/apps/dravlen-client.png
  /usr/share/locale/de/LC_MESSAGES/dravlen-client.mo
  /lib/udev/rules.d/60-dravlen.rules
  /usr/share/bash-completion/completions/dravlen
  /usr/share/bash-completion/completions/dravlen40
  /usr/share/doc/dravlen-client/copyright
)
missing=0
for f in "${expected[@]}"; do
  grep -qxF "$f" <<<"$contents" || { fail "the package lacks $f"; missing=1; }
done
[ "$missing" = 0 ] && ok "the package holds the programs, man pages, desktop entry, metainfo, icons, translation, udev rule and bash completion"
if grep -q 'dravlen-sim' <<<"$contents"; then
  fail "the simulator is in the package"
else
  ok "no simulator in the package"
fi

echo "== lintian"
# Errors fail the check; warnings are printed (the README lists them).
if lintian --fail-on error --tag-display-limit 0 "$changes" >"$work/lintian.log" 2>&1; then
  ok "lintian: no errors"
else
  fail "lintian reports errors"
fi
cat "$work/lintian.log"

echo "== Desktop entry and metainfo"
unpacked=$work/unpacked
dpkg-deb -x "$deb" "$unpacked"
if desktop-file-validate "$unpacked/usr/share/applications/dravlen-client.desktop"; then
  ok "desktop-file-validate"
else
  fail "desktop-file-validate"
fi
if command -v appstreamcli >/dev/null; then
  if appstreamcli validate --no-net "$unpacked/usr/share/metainfo/dravlen-client.metainfo.xml"; then
    ok "appstreamcli validate"
  else
    fail "appstreamcli validate"
  fi
fi
if command -v msgunfmt >/dev/null; then
  n=$(msgunfmt "$unpacked/usr/share/locale/de/LC_MESSAGES/dravlen-client.mo" | grep -c '^msgid ' || true)
  [ "$n" -gt 1 ] && ok "German catalogue with $((n - 1)) messages" || fail "the German catalogue is empty"
fi

sudo=()
if [ "$install" = 1 ] && [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null; then
    sudo=(sudo)
  else
    echo "package: not installing the package: that needs root or sudo"
    install=0
  fi
fi
if [ "$install" = 1 ]; then
  echo "== dpkg -i / dpkg -r"
  if dpkg-query -W -f='${Status}' dravlen-client 2>/dev/null | grep -q "install ok installed"; then
    fail "dravlen-client is already installed here; not touching it"
  else
    if "${sudo[@]}" dpkg -i "$deb" >"$work/dpkg-i.log" 2>&1; then
      ok "dpkg -i"
      gone=0
      for f in "${expected[@]}"; do
        [ -e "$f" ] || { fail "$f not there after dpkg -i"; gone=1; }
      done
      [ "$gone" = 0 ] && ok "every checked file is installed"
      if ldd /usr/bin/dravlen-client /usr/bin/dravlen-client40 | grep -q 'not found'; then
        fail "the installed programs miss libraries"
      fi
      # The installed program finds the installed catalogue: its window
      # title is German with LANGUAGE=de.
      if command -v xvfb-run >/dev/null && command -v xdotool >/dev/null; then
        # A program that ends before its window shows (an X server that
        # went away under it) gets one more try; its output tells why.
        german=1
        for attempt in 1 2; do
          config=$(mktemp -d "$work/config.XXXXXX")
          if env -u LC_ALL -u LC_MESSAGES XDG_CONFIG_HOME="$config" LANG=C.UTF-8 LANGUAGE=de \
               CLIENT_LOG="$config/client.log" xvfb-run -a bash -c '
                 /usr/bin/dravlen-client >"$CLIENT_LOG" 2>&1 & pid=$!
                 for _ in $(seq 100); do
                   # xdotool matches names regardless of case: compare exactly.
                   for w in $(xdotool search --onlyvisible --name Dravlen 2>/dev/null); do
                     if [ "$(xdotool getwindowname "$w")" = Dravlen-Client ]; then
                       kill $pid; exit 0
                     fi
                   done
                   kill -0 $pid 2>/dev/null || exit 2
                   sleep 0.2
                 done
                 kill $pid; exit 1'; then
            german=0
            break
          else
            status=$?
            echo "package: attempt $attempt: the program $( [ $status = 2 ] && echo ended early || echo showed no German title ); its output:"
            sed 's/^/    /' "$config/client.log" 2>/dev/null | head -20
            [ $status = 2 ] || break
          fi
        done
        if [ "$german" = 0 ]; then
          ok "the installed program speaks German with LANGUAGE=de"
        else
          fail "the installed program did not show its German window title"
        fi
      fi
      if command -v man >/dev/null && ! man -w dravlen-client40 >/dev/null 2>&1; then
        fail "man cannot find dravlen-client40"
      fi
      if command -v udevadm >/dev/null; then
        # Parses every rules file; a mistake in ours is reported by name.
        if "${sudo[@]}" udevadm test --action=add /class/tty/tty0 2>&1 | grep -i 'dravlen.rules' |
           grep -iE 'invalid|error|unknown'; then
          fail "udevadm test complains about the rule"
        else
          ok "udevadm test reads the rule without complaint"
        fi
      fi
      if "${sudo[@]}" dpkg -r dravlen-client >"$work/dpkg-r.log" 2>&1; then
        ok "dpkg -r"
        left=0
        for f in "${expected[@]}"; do
          [ -e "$f" ] && { fail "$f is still there after dpkg -r"; left=1; }
        done
        [ "$left" = 0 ] && ok "every checked file is gone"
      else
        fail "dpkg -r"; cat "$work/dpkg-r.log"
      fi
    else
      fail "dpkg -i"; cat "$work/dpkg-i.log"
    fi
  fi
fi

echo "package: $((SECONDS - start)) s in all"
if [ "$failures" -eq 0 ]; then
  echo "package: PASS"
else
  echo "package: FAIL ($failures)"
  exit 1
fi
