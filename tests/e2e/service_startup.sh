# Without the broker the service gives up after its 20 attempts (that it
# opens no port before the broker lets it in: unpacked_service.sh). Without a
# display it serves all but screen.cgi.
source "$(dirname "$0")/lib/stack.sh"
BUILD_DIR=$build "$root/scripts/hw-standins" >/dev/null
"$bin/store" create >/dev/null
"$bin/fbpattern" >/dev/null
status=0
timeout 20 "$bin/webservice" 2>/dev/null || status=$?
[ $status -ne 0 ] && [ $status -ne 124 ] || fail "service without broker: status $status"
grep -q 'sem_open: No such file or directory' /dev/kmsg || fail "sem_open error not logged"
grep -q 'Connected after' /dev/kmsg && fail "connected without a broker"

# Without a usable display it starts and serves all else; screen.cgi answers
# its failure until the display is there.
rm /dev/fb0
start_broker
start_service
expect_tree "without a display"
[[ $(api screen.cgi) == *'"result": 0, "error": '*'frambuffer open: No such file'* ]] || fail "screen.cgi without a display"
"$bin/fbpattern" >/dev/null
api screen.cgi >"$SANDBOX_SCRATCH/screen"
grep -q PNG "$SANDBOX_SCRATCH/screen" || fail "screen.cgi once the display is there"
echo "service_startup: all checks passed"
