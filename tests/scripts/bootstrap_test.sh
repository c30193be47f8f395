#!/bin/bash
# The decisions of scripts/bootstrap's set-up of 32-bit emulation that need
# neither root nor a second kernel: what an exec attempt's answer calls for,
# the pin's text, the installed packages that would stand in the way, and
# taking back only what a run set up.
source "$(dirname "$0")/../../scripts/bootstrap"
set +e
passed=0 failed=0
check() {   # name, expected, actual
    if [ "$2" = "$3" ]; then passed=$((passed + 1)); return; fi
    failed=$((failed + 1))
    printf 'FAIL %s\n  expected: %s\n  actual:   %s\n' "$1" "$2" "$3"
}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Only the kernel refusing the program (ENOEXEC) calls for emulation.
check "ran" ready "$(emu_decide 0 'wine-8.0 (Debian 8.0~repack-4)')"
check "refused" emulate "$(emu_decide 126 \
    'bash: line 1: /usr/lib/wine/wine: cannot execute binary file: Exec format error')"
check "not found" broken "$(emu_decide 127 \
    'bash: line 1: /usr/lib/wine/wine: cannot execute: required file not found')"
check "no permission" broken "$(emu_decide 126 'bash: /usr/lib/wine/wine: Permission denied')"
check "library" broken "$(emu_decide 127 'wine: error while loading shared libraries: libc.so.6')"
check "wine error" broken "$(emu_decide 1 'wine: could not load kernel32.dll, status c0000135')"
check "format error, other status" broken "$(emu_decide 1 'Exec format error')"

# The same through real exec attempts: an ELF file for no machine the kernel
# runs, a program that fails, one that is missing.
elf() { printf '\177ELF\001\001\001\0\0\0\0\0\0\0\0\0\002\0'"$2" > "$1"; head -c 44 /dev/zero >> "$1"; chmod +x "$1"; }
elf "$tmp/foreign" '\377\177'
elf "$tmp/i386" '\003\0'
printf '#!/bin/sh\necho "wine: could not load kernel32.dll" >&2\nexit 1\n' > "$tmp/failing"
chmod +x "$tmp/failing"
for case in "foreign emulate" "failing broken" "missing broken"; do
    out=$(LANG=de_DE.UTF-8 emu_probe "$tmp/${case% *}" --version); st=$?
    check "probe $case" "${case#* }" "$(emu_decide "$st" "$out")"
done
check "probe says why" "wine: could not load kernel32.dll" "$(emu_probe "$tmp/failing")"
# A probe that does not answer is stopped at its time limit.
printf '#!/bin/sh\nsleep 30\n' > "$tmp/hanging"
chmod +x "$tmp/hanging"
out=$(EMU_PROBE_SECONDS=1 emu_probe "$tmp/hanging" --version); st=$?
check "probe hung" hung "$(emu_decide "$st" "$out")"
check "i386 header" "yes no no" "$(for f in i386 foreign failing; do
    emu_is_i386 "$tmp/$f" && echo yes || echo no; done | xargs)"

# Nothing from trixie but qemu-user, from either suite.
check "pin" "Package: *
Pin: release n=trixie
Pin-Priority: -1

Package: *
Pin: release n=trixie-security
Pin-Priority: -1

Package: qemu-user
Pin: release n=trixie
Pin-Priority: 990

Package: qemu-user
Pin: release n=trixie-security
Pin-Priority: 990" "$(emu_pin_text)"
check "suites" "Suites: trixie Suites: trixie-security" "$(emu_sources_text | grep '^Suites:' | xargs)"

# Trixie's qemu-user breaks these below 1:9.1.0: present ones stop the set-up.
check "conflicts" "qemu-user-static qemu-user-binfmt:i386 qemu-user-binfmt" "$(emu_conflicts \
'qemu-user-static installed 1:7.2+dfsg-7+deb12u18+b3
qemu-user-binfmt:i386 installed 1:9.1.0~rc1+ds-1
qemu-user-binfmt half-configured 1:8.2.2+ds-1~bpo12+1
qemu-user-static installed 1:9.1.0
qemu-user-binfmt config-files 1:7.2+dfsg-7
qemu-user-static not-installed
qemu-user installed 1:7.2+dfsg-7+deb12u18+b3' | xargs)"
check "no conflicts" "" "$(emu_conflicts '')"

# The undo takes back what this run made and leaves what it found; with
# the sources file gone, apt forgets trixie's indexes.
emu_binfmt=$tmp/binfmt; mkdir "$emu_binfmt"; : > "$emu_binfmt/$EMU_BINFMT"
touch "$tmp/made.sources" "$tmp/found.pin"
apt-get() { echo "$*" >> "$tmp/apt"; }
emu_sources=$tmp/made.sources
emu_made="binfmt package $tmp/made.sources"
emu_undo 2>/dev/null
check "undo handler" -1 "$(cat "$emu_binfmt/$EMU_BINFMT")"
check "undo package" "remove -y -q qemu-user update -q" "$(xargs < "$tmp/apt")"
check "undo files" "found.pin" "$(cd "$tmp" && ls -- *.sources *.pin 2>/dev/null)"

# An older run's pin is brought up to date before the first apt call.
emu_pin=$tmp/old.pin; emu_sources=$tmp/old.sources
printf 'Package: *\nPin: release n=trixie\nPin-Priority: 1\n' > "$emu_pin"
emu_sources_text > "$emu_sources"
id() { echo 0; }
setup_apt() { emu_same "$emu_pin" "$(emu_pin_text)" && echo current > "$tmp/order" || echo stale > "$tmp/order"; }
setup_emulation() { :; }
cache_key() { echo key; }
CACHE_ROOT=$tmp/cache; mkdir -p "$CACHE_ROOT/deps-key"; touch "$CACHE_ROOT/deps-key/.complete"
main > /dev/null 2>&1
check "pin before apt" current "$(cat "$tmp/order")"

echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
