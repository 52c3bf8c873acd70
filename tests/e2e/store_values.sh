#!/bin/bash
# store get/set read and write a variable of every base type in areas made by
# store create; with a broker running each change reaches a watching client,
# without one the value is written and the missing broker is said.
set -euo pipefail
build=$1
store=$build/bin/store
broker=$build/bin/broker
work=$(mktemp -d "$SANDBOX_SCRATCH/store.XXXXXX")
fail() { echo "FAIL: $*" >&2; [ -f "$work/watch.out" ] && cat "$work/watch.out" >&2; exit 1; }
# Sets a value and checks the line the tool prints for it.
expect_set() {
  local shown=$1; shift
  "$store" set "$@" >"$work/set.out" 2>"$work/set.err" || fail "set $* failed: $(cat "$work/set.err")"
  [ "$(cat "$work/set.out")" = "$shown" ] || fail "set $* printed $(cat "$work/set.out")"
}

if "$store" get RadioPower 2>/dev/null; then fail "read areas that do not exist"; fi
"$store" create

# Each base type's text forms are covered in values_text_test.cpp; here the tool's own output.
expect_set "MemPersistent.RadioPower = 31" RadioPower 0x1F
expect_set "MemDynamic.JoystickX = -0.250000" MemDynamic.JoystickX -0.25
expect_set 'MemStatic.ModemVersionString = v2 "b"' ModemVersionString 'v2 "b"'
expect_set "MemDynamic.PowerState = Tlx" PowerState Tlx
grep -qx "store set: no broker running; written without posting the change event" "$work/set.err" ||
  fail "the missing broker was not said"

[ "$("$store" get RadioPower)" = 31 ] || fail "int not kept"
[ "$("$store" get ModemVersionString)" = 'v2 "b"' ] || fail "string not kept"
[ "$("$store" get PowerState)" = Tlx ] || fail "enum not kept"

"$store" set FocusMotor '{"GearTeethSet": 12, "State": "Absent"}' >/dev/null 2>&1
grep -qF '"GearTeethSet": {"max":"255","min":"0","type":"int","value":"12"}' <<<"$("$store" get FocusMotor)" ||
  fail "struct field not written"
grep -qF '"State":  { "value": "Absent", ' <<<"$("$store" get FocusMotor)" || fail "struct enum field not written"
"$store" set CamClipList0 '{"CamClipName": "take 9"}' 3 >/dev/null 2>&1
grep -qF '"CamClipName": {"value":"take 9", ' <<<"$("$store" get CamClipList0 3)" || fail "list element not written"
[ "$("$store" get CamClipList0 | wc -l)" = 500 ] || fail "a list does not read as 500 elements"

if "$store" set RadioPower abc 2>"$work/set.err"; then fail "took abc for an int"; fi
grep -qx "store set: Can't convert abc to int" "$work/set.err" || fail "wrong int error: $(cat "$work/set.err")"
if "$store" set CamClipList0 '{"CamClipName": "x"}' 500 2>/dev/null; then fail "wrote past the list"; fi
if "$store" set NoSuchVariable 1 2>/dev/null; then fail "wrote an unknown variable"; fi
[ "$("$store" get RadioPower)" = 31 ] || fail "a rejected write changed the value"

# With a broker: changes are posted, an unchanged value is not.
"$broker" >/dev/null 2>&1 &
brokerPid=$!
trap 'kill $brokerPid ${watchPid:-} 2>/dev/null || true' EXIT
for _ in $(seq 600); do [ -e /dev/shm/sem.message-broker-ready ] && break; sleep 0.05; done
"$broker" --watch >"$work/watch.out" 2>&1 &
watchPid=$!
# The watcher is subscribed once it sees a marker event sent after it started.
for _ in $(seq 600); do
  "$broker" --send 900:0:1 >/dev/null
  grep -q "^900:0:1 " "$work/watch.out" && break
  sleep 0.05
done
expect_set "MemPersistent.RadioPower = 50" RadioPower 50
[ ! -s "$work/set.err" ] || fail "a running broker was not used: $(cat "$work/set.err")"
expect_set "MemPersistent.RadioPower = 50" RadioPower 50
"$store" set CamClipList0 '{"CamClipName": "take 10"}' 7 >/dev/null
"$broker" --send 900:0:2 >/dev/null
for _ in $(seq 600); do grep -q "^900:0:2 " "$work/watch.out" && break; sleep 0.05; done
diff - <(grep -v "^900:" "$work/watch.out") <<'END' || fail "the watcher saw other events"
71:0:0 VarRadioPowerChanged
626:1:7 VarCamClipList0Changed
END
echo PASS
