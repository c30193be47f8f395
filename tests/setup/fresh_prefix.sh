#!/bin/bash
# Runs a Windows test program under Wine in a prefix of its own, copied fresh
# from the pristine one, on an Xvfb display of its own: for tests that install
# into the system (the Windows folder, the machine's registry, the all-users
# folders) and so must neither meet nor leave anything in the prefix the other
# tests share. The prefix stays in the build folder for a look afterwards.
#
# usage: fresh_prefix.sh BUILD_DIR NAME PROGRAM [ARGUMENTS...]
set -u
build="$1" name="$2"
shift 2

pristine=""
for candidate in "$build"/wine-pristine-2-*; do
    [ -f "$candidate/.complete" ] && pristine="$candidate"
done
if [ -z "$pristine" ]; then
    echo "fresh_prefix: no pristine Wine prefix in $build (scripts/test makes it)" >&2
    exit 1
fi
if ! command -v Xvfb >/dev/null; then
    echo "fresh_prefix: Xvfb is missing" >&2
    exit 1
fi

export WINEPREFIX="$build/$name-prefix" WINEARCH=win32 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree=;mshtml="
wineserver -k 2>/dev/null || true
rm -rf "$WINEPREFIX"
cp -a "$pristine" "$WINEPREFIX"

display=$(( 300 + RANDOM % 200 ))
while [ -e "/tmp/.X11-unix/X$display" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
export DISPLAY=":$display"
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done
cleanup() {
    wineserver -k 2>/dev/null || true
    kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT

wine "$@"
