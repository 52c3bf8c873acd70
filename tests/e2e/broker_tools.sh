#!/bin/bash
# The broker as people use it: run it with --log and --stdin, watch it with
# two --watch clients (all events, and two chosen ones), post with --send and
# through standard input, then stop everything with SIGTERM.
set -euo pipefail
broker=$1/bin/broker
work=$(mktemp -d)
fail() { echo "FAIL: $*"; for f in "$work"/*.out; do echo "== $f"; cat "$f"; done; exit 1; }
# Waits (bounded, never timed) until the file holds the line.
await() { for _ in $(seq 600); do grep -qxF -- "$2" "$1" 2>/dev/null && return 0; sleep 0.05; done; fail "no \"$2\" in $1"; }

"$broker" --bogus 2>/dev/null && fail "a bad option was accepted"
"$broker" --send 2>/dev/null && fail "--send without events was accepted"
"$broker" --send 918 2>/dev/null && fail "--send reached a broker that is not running"

mkfifo "$work/input"
"$broker" --log --stdin <"$work/input" >"$work/broker.out" 2>"$work/broker.err" &
brokerPid=$!
exec 3>"$work/input"
for _ in $(seq 600); do [ -e /dev/shm/sem.message-broker-ready ] && break; sleep 0.05; done
[ -S /var/volatile/message-broker.socket ] || fail "no broker socket"

"$broker" --watch >"$work/all.out" 2>&1 &
allPid=$!
await "$work/broker.out" "client 1 subscribe all"
"$broker" --watch VarAppServiceLogLevelChanged 16 >"$work/some.out" 2>&1 &
somePid=$!
await "$work/broker.out" "client 2 subscribe 16:0:0 VarFocusActPosNormChanged"

"$broker" --send 918 16:1:3 VarAppGuiLogLevelChanged || fail "--send failed"
echo "7 918:0:5 nonsense" >&3
await "$work/all.out" "918:0:5 VarAppServiceLogLevelChanged"
await "$work/some.out" "918:0:5 VarAppServiceLogLevelChanged"

kill -TERM $allPid $somePid
wait $allPid || fail "--watch did not end cleanly"
wait $somePid || fail "--watch with events did not end cleanly"
kill -TERM $brokerPid
wait $brokerPid || fail "the broker did not exit with 0"
exec 3>&-

diff - "$work/all.out" <<'END' || fail "the watcher of all events saw something else"
918:0:0 VarAppServiceLogLevelChanged
16:1:3 VarFocusActPosNormChanged
919:0:0 VarAppGuiLogLevelChanged
7:0:0 VarFocusTargetValueChanged
918:0:5 VarAppServiceLogLevelChanged
END
diff - "$work/some.out" <<'END' || fail "the watcher of two events saw something else"
918:0:0 VarAppServiceLogLevelChanged
16:1:3 VarFocusActPosNormChanged
918:0:5 VarAppServiceLogLevelChanged
END
grep -qxF "event 918:0:0 VarAppServiceLogLevelChanged from client 3 to 2" "$work/broker.out" || fail "relay not logged"
grep -qxF "event 7:0:0 VarFocusTargetValueChanged from input to 1" "$work/broker.out" || fail "injection not logged"
grep -qxF "client 3 disconnected" "$work/broker.out" || fail "the sender's leaving not logged"
grep -qxF "Not an event: nonsense" "$work/broker.err" || fail "bad input line not reported"
[ ! -e /var/volatile/message-broker.socket ] || fail "socket left behind"
[ ! -e /dev/shm/sem.message-broker-ready ] || fail "semaphore left behind"
echo "PASS"
