#!/bin/bash
# The hwinfo tool prepares a board identity on the stand-in devices, refuses
# device paths that are not stand-ins, and works on image files given by name.
set -euo pipefail
build=$1
root=$(cd "$(dirname "$0")/../.." && pwd)
tool=$build/bin/hwinfo
fail() { echo "FAIL: $*" >&2; exit 1; }

BUILD_DIR=$build "$root/scripts/hw-standins" serial=1234 board=B1
[ "$("$tool" get serial)" = 1234 ] || fail "serial not set"
[ "$("$tool" get board)" = B1 ] || fail "board not set"
[ "$("$tool" get revision)" = 1.0 ] || fail "revision lost its default"
grep -qx ' *serial: 1234' <<<"$("$tool" show)" || fail "show lacks the serial"
if "$tool" set version=1 2>/dev/null; then fail "a private field was written"; fi
if "$tool" set board 2>/dev/null; then fail "an assignment without '=' was taken"; fi
if "$tool" get nosuch 2>/dev/null; then fail "an unknown field was read"; fi

# A fresh hw-standins run starts from a blank block again.
"$root/scripts/hw-standins"
[ "$("$tool" get serial)" = "" ] || fail "stand-ins were not fresh"

# A device path is used only when a regular file stands in for it (a FIFO
# here, where the real device would be a character device).
rm /dev/mem && mkfifo /dev/mem
if timeout 5 "$tool" show >/dev/null 2>&1; then fail "used a /dev/mem that is not a stand-in"; fi

# Image files given by name; the register word sits at its physical address.
register=$SANDBOX_SCRATCH/register.img block=$SANDBOX_SCRATCH/emmc.img
truncate -s $((0x020CC06C)) "$register"
truncate -s $((0x110000)) "$block"
"$tool" --register "$register" --block "$block" set serial=77 boot_failed_counter=3 update_requested=1
[ "$("$tool" --register "$register" --block "$block" get serial)" = 77 ] || fail "image serial"
word=$(od -A n -t x4 -j $((0x020CC068)) -N 4 "$register" | tr -d ' ')
[ "$word" = 80000003 ] || fail "register word is $word"
echo PASS
