#!/bin/bash
# Runs shell_fulldisk_tests with its data folder on a small file system of
# its own: a 16 MB tmpfs mounted on a fresh folder, handed to the Wine test
# program as VT_FULL_DISK (its Z: path). The test fills it from the host
# side; the mount goes again on exit. Mounting needs root: without it the
# test program runs without VT_FULL_DISK and skips, and under CI=true this
# script fails instead.
#   run_fulldisk_test.sh WINE_RUN TEST_EXE [test arguments...]
set -u
wine_run="$1" exe="$2"
shift 2

mnt="$(mktemp -d "${TMPDIR:-/tmp}/vt-fulldisk.XXXXXX")"
mounted=""
cleanup() {
    if [ -n "$mounted" ]; then
        umount "$mnt" 2>/dev/null || umount -l "$mnt"
    fi
    rmdir "$mnt"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

if mount -t tmpfs -o size=16m,mode=0777 tmpfs "$mnt" 2>"$mnt.err"; then
    mounted=1
    export VT_FULL_DISK="Z:$(echo "$mnt" | tr / '\\')"
else
    echo "run_fulldisk_test: could not mount a small file system: $(cat "$mnt.err")" >&2
    if [ "${CI:-}" = true ]; then
        rm -f "$mnt.err"
        exit 1
    fi
fi
rm -f "$mnt.err"

"$wine_run" "$exe" "$@"
