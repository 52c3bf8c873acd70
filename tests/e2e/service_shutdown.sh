# SIGTERM in the middle of a load: held update requests straight and through
# nginx, all.cgi readers, and changes from other processes all the time. The
# service must exit with status 0 (no crash, no core) and every update
# request it held must get its end record before the connection closes.
source "$(dirname "$0")/lib/stack.sh"
stack_start
start_nginx

(
  value=0
  while :; do
    value=$((value % 200 + 1))
    "$bin/store" set MemMotors.FocusGearTeethSet $value >/dev/null 2>&1 || true
    "$bin/broker" --send VarLastKnownFocusValueChanged >/dev/null 2>&1 || true
    sleep 0.05
  done
) &
stack_pids+=($!)
"$bin/loadclient" --bin "$bin" --until-shutdown --seconds 60 --updaters 8 --web-updaters 8 --web-port 8080 \
  --readers 2 >"$SANDBOX_SCRATCH/load.out" &
load=$!

# Ended once the 16 update clients are held.
wait_until 400 requests_read 16 || fail "the update clients are not held"
expect_clean_exit "under load"
wait $load || fail "load at shutdown: $(cat "$SANDBOX_SCRATCH/load.out")"
echo "service_shutdown: $(cat "$SANDBOX_SCRATCH/load.out")"
