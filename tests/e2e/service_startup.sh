# Without the broker the service gives up after its 20 attempts, before it
# opens port 9000. Without a display it serves all but screen.cgi. (SIGTERM ending it with status 0 is checked by the
# service_* scripts, its log record by eventpoll_test.cpp.)
source "$(dirname "$0")/lib/stack.sh"
BUILD_DIR=$build "$root/scripts/hw-standins" >/dev/null
"$bin/store" create >/dev/null
"$bin/fbpattern" >/dev/null
status=0
timeout 20 "$bin/webservice" 2>/dev/null || status=$?
[ $status -ne 0 ] && [ $status -ne 124 ] || fail "service without broker: status $status"
port_open 9000 && fail "port 9000 was opened without the broker"
grep -q 'sem_open: No such file or directory' /dev/kmsg || fail "sem_open error not logged"
grep -q 'Connected after' /dev/kmsg && fail "connected without a broker"

# Without a usable display it starts and serves all else; screen.cgi answers
# its failure until the display is there.
rm /dev/fb0
"$bin/broker" >/dev/null &
stack_pids+=($!)
wait_until 100 test -S /var/volatile/message-broker.socket || fail "the broker did not start"
start_service
expect_tree "without a display"
[[ $(api screen.cgi) == *'"result": 0, "error": '*'frambuffer open: No such file'* ]] || fail "screen.cgi without a display"
"$bin/fbpattern" >/dev/null
api screen.cgi >"$SANDBOX_SCRATCH/screen"
grep -q PNG "$SANDBOX_SCRATCH/screen" || fail "screen.cgi once the display is there"
echo "service_startup: all checks passed"
