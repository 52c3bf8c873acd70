# Broken and hostile clients beside a running load, which must lose no
# change and get no malformed answer (requests refused while the table is
# full are sent again); afterwards the service holds no more descriptors
# than at the start. Then the broker is lost.
# A thousand connections at once need a thousand descriptors on each side.
ulimit -n 4096
source "$(dirname "$0")/lib/stack.sh"
stack_start
fds=$(settled_fd_count "$service_pid")

begin="01 01 00 01 00 08 00 00  00 01 00 00 00 00 00 00"
printf '%s\n01 04 00 01 01 00 00 00  0b 02 53 43\n' "$begin" >"$work/cut-record.hex"
# A set.cgi request whose body is cut after 8 of its 16 bytes.
printf '%s\n' "$begin" "01 04 00 01 00 1c 04 00  0b 0f 53 43 52 49 50 54 5f 4e 41 4d 45 2f 61 70 69 2f 76 31 2f 73 65 74 2e 63 67 69 00 00 00 00" \
  "01 04 00 01 00 00 00 00  01 05 00 01 00 10 00 00  7b 22 4d 65 6d 4c 65 6e" >"$work/cut-body.hex"
head -c 65536 /dev/urandom >"$work/garbage"

faults() {
  client --hex "$work/cut-record.hex" --no-wait
  client --hex "$work/cut-body.hex" --no-wait
  client --hex "$work/cut-body.hex" --half-close --timeout 1 >/dev/null || true
  api all.cgi --half-close | body | python3 -c 'import json, sys; json.load(sys.stdin)' || fail "half-closed all.cgi"
  client --raw "$work/garbage" --timeout 1 >/dev/null || true
  client --raw "$work/garbage" --no-wait
}

"$bin/loadclient" --bin "$bin" --seconds 12 --updaters 4 --readers 1 >"$work/load.out" &
load=$!
for _ in 1 2 3; do faults; done
# Most of the thousand are refused while the table is full; the service must
# survive the burst and the load must lose nothing.
answered=$(api held-check --connections 1000 --timeout 30 || true)
echo "1000 connections: $answered answered"
settled_fd_count "$service_pid" >/dev/null  # the thousand are deleted at the next clean-up
faults
wait $load || fail "load beside the faults: $(cat "$work/load.out")"
echo "service_faults: $(cat "$work/load.out")"
expect_alive "after the faults"
expect_fds "$service_pid" "$fds"

# The broker killed in a stream of events, with update requests held and
# readers running: the tree is served, set.cgi still stores (and answers
# success: set.cgi drops the failed post's text), and SIGTERM still ends the
# service with status 0, giving every held request its end record.
for id in 31 32 33; do
  api update.cgi --request-id $id --timeout 60 >"$work/held-$id" &
  held+=($!)
done
"$bin/loadclient" --bin "$bin" --updaters 0 --readers 2 --seconds 4 >"$work/readers.out" &
readers=$!
# Events and writes from other processes, on and on; after the kill they fail.
while :; do
  "$bin/store" set MemMotors.FocusGearTeethSet $((RANDOM % 200 + 1)) >/dev/null 2>&1 || true
  "$bin/broker" --send VarLastKnownFocusValueChanged >/dev/null 2>&1 || true
done &
stream=$!
stack_pids+=($stream)

# Killed once the changes reach the service's clients.
wait_until 200 test -s "$work/held-31" || fail "no change reached a held request"
kill -KILL "$broker_pid"
wait "$broker_pid" 2>/dev/null || true
wait $readers || fail "all.cgi readers: $(cat "$work/readers.out")"
echo "service_faults: readers around the broker's loss $(cat "$work/readers.out")"
kill "$stream"
expect_eq "$(set_body '{"MemMotors": {"FocusGearTeethSet": 222}}')" '{"result": 1 }' "set.cgi without a broker"
expect_eq "$("$bin/store" get MemMotors.FocusGearTeethSet)" 222 "value stored without a broker"
expect_tree "without a broker"
expect_clean_exit "at the end"
for pid in "${held[@]}"; do wait "$pid" || fail "a held update request got no end record"; done
