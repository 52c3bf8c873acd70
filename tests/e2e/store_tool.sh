#!/bin/bash
# The store tool makes the 18 areas with their size words, fills a device
# state the catalogue reads back, lists and dumps variables, and removes them.
set -euo pipefail
build=$1
store=$build/bin/store
fail() { echo "FAIL: $*" >&2; exit 1; }

"$store" create
[ "$(ls /dev/shm | wc -l)" = 18 ] || fail "not 18 areas"
[ "$(stat -c %s /dev/shm/MemCamera)" = $((139120 + 4)) ] || fail "MemCamera length"
word=$(od -A n -t u4 -N 4 /dev/shm/MemPersistent | tr -d ' ')
[ "$word" = 652 ] || fail "MemPersistent size word is $word"

"$store" list > "$SANDBOX_SCRATCH/list"
[ "$(wc -l < "$SANDBOX_SCRATCH/list")" = 810 ] || fail "list is not 810 lines"
grep -Eq '^MemMotors +12 FocusGearTeethSet +int +368$' "$SANDBOX_SCRATCH/list" || fail "FocusGearTeethSet line"
grep -Eq '^MemLens +21 LensMarkerFocusValue0 +float +4$' "$SANDBOX_SCRATCH/list" || fail "lens copy line"

grep -qx 'MemMotors.FocusGearTeethSet @368, 4 bytes: 20 00 00 00' <<<"$("$store" dump FocusGearTeethSet)" || fail "dump of an int"
grep -q '4d 44 4d 20' <<<"$("$store" dump MemStatic.ModemVersionString)" || fail "dump of a string"
grep -q '^MemLens.LensMarkerFocusValue0 @4, 4 bytes' <<<"$("$store" dump MemLens.LensMarkerFocusValue0)" || fail "dump of a copy"
[ "$("$store" dump --all | grep -c '^Mem')" = 810 ] || fail "dump --all"
if "$store" dump NoSuchVariable 2>/dev/null; then fail "an unknown variable was dumped"; fi
if "$store" frobnicate 2>/dev/null; then fail "an unknown command was taken"; fi

# A second create resets the areas to the default state.
printf '\x09' | dd of=/dev/shm/MemMotors bs=1 seek=$((4 + 368)) conv=notrunc status=none
"$store" create
grep -q ': 20 00 00 00$' <<<"$("$store" dump FocusGearTeethSet)" || fail "create did not reset"

[ "$("$store" remove)" = "removed 18 areas" ] || fail "remove"
[ "$(ls /dev/shm | wc -l)" = 0 ] || fail "areas left behind"
[ "$("$store" remove)" = "removed 0 areas" ] || fail "second remove"
echo PASS
