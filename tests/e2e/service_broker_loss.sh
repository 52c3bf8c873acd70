# The broker killed with SIGKILL in the middle of a stream of events, with
# update requests held and all.cgi readers running: the service keeps serving
# the tree, set.cgi still stores the value (the setter reports the failed post
# as its text, which set.cgi drops, so the answer is success), and SIGTERM
# still ends it with status 0, giving every held request its end record.
source "$(dirname "$0")/lib/stack.sh"
stack_start

for id in 31 32 33; do
  api update.cgi --request-id $id --timeout 60 >"$SANDBOX_SCRATCH/held-$id" &
  held+=($!)
done
"$bin/loadclient" --bin "$bin" --updaters 0 --readers 2 --seconds 4 >"$SANDBOX_SCRATCH/readers.out" &
readers=$!
# Events and writes from other processes, on and on; after the kill they fail.
(
  value=0
  while :; do
    value=$((value % 200 + 1))
    "$bin/store" set MemMotors.FocusGearTeethSet $value >/dev/null 2>&1 || true
    "$bin/broker" --send VarLastKnownFocusValueChanged >/dev/null 2>&1 || true
  done
) &
stream=$!
stack_pids+=($stream)

# Killed once the changes reach the service's clients.
wait_until 200 test -s "$SANDBOX_SCRATCH/held-31" || fail "no change reached a held request"
kill -KILL "$broker_pid"
wait "$broker_pid" 2>/dev/null || true

wait $readers || fail "all.cgi readers: $(cat "$SANDBOX_SCRATCH/readers.out")"
echo "service_broker_loss: readers $(cat "$SANDBOX_SCRATCH/readers.out")"
kill "$stream"
expect_eq "$(set_body '{"MemMotors": {"FocusGearTeethSet": 222}}')" '{"result": 1 }' "set.cgi without a broker"
expect_eq "$("$bin/store" get MemMotors.FocusGearTeethSet)" 222 "value stored without a broker"
expect_tree "without a broker"

expect_clean_exit "at the end"
for pid in "${held[@]}"; do wait "$pid" || fail "a held update request got no end record"; done
