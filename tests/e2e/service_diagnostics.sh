# Start-up without the broker and without a display; the kernel log stream,
# the screen capture and the 1-Wire endpoints of the real service, with the
# scripted dmesg, the display stand-in and the 1-Wire command stand-in.
source "$(dirname "$0")/lib/stack.sh"
BUILD_DIR=$build "$root/scripts/hw-standins" >/dev/null
"$bin/store" create >/dev/null
# Without the broker it gives up after its 20 attempts (that it opens no
# port before the broker lets it in: unpacked_service.sh).
status=0
timeout 20 "$bin/webservice" 2>/dev/null || status=$?
[ $status -ne 0 ] && [ $status -ne 124 ] || fail "service without broker: status $status"
grep -q 'sem_open: No such file or directory' /dev/kmsg || fail "sem_open error not logged"
grep -q 'Connected after' /dev/kmsg && fail "connected without a broker"

export ONEWIRE_TOOL_DIR=$work/onewire
mkdir "$ONEWIRE_TOOL_DIR"
export FAKE_DMESG_OUTPUT=$work/dmesg.fifo
mkfifo "$FAKE_DMESG_OUTPUT"
start_broker
start_service
# Without a display it serves all else; screen.cgi answers its failure
# until the display is there.
expect_tree "without a display"
[[ $(api screen.cgi) == *'"result": 0, "error": '*'frambuffer open: No such file'* ]] || fail "screen.cgi without a display"
"$bin/fbpattern" >/dev/null
# Opened only now, so that the service and its children hold no writing end:
# what a killed service leaves of the stand-in's own children then ends with us.
exec 7<>"$FAKE_DMESG_OUTPUT"
printf '\033[31mred\033[0m line\n' >&7

# log.cgi: the length line, then the whole HTML text.
wait_until 100 sh -c "'$bin/fcgi-client' --param SCRIPT_NAME=/api/v1/log.cgi | grep -q 'red</span>'" || fail "log text missing"
log=$(api log.cgi | tail -c +28)
length=${log%%$'\r'*}
[[ $log == *"<span style='color: #AA0000'>red</span> line"* ]] || fail "log text not rendered: $log"
# An up-to-date client is held until the text grows, then gets only the new part.
api log.cgi --param "QUERY_STRING=offset=$length" >"$work/held" &
held=$!
wait_until 200 requests_read 1 || fail "the log request was not read"
kill -0 $held 2>/dev/null || fail "log request at the end of the text was not held"
printf 'next \033[94mblue\033[0m\n' >&7
wait $held || fail "held log request not answered"
expect_eq "$(tail -c +28 "$work/held")" "$length"$'\r\n'"next <span style='color: #5555FF'>blue</span>" "held log answer"
# A dmesg that ends is started again, and the log goes on.
dmesg=$(pgrep -P "$service_pid" -f dmesg) || fail "no dmesg child"
kill -KILL "$dmesg"
wait_until 200 sh -c "pgrep -P $service_pid -f dmesg | grep -vqx $dmesg" || fail "dmesg not started again"
printf 'after the restart\n' >&7
wait_until 100 sh -c "'$bin/fcgi-client' --param SCRIPT_NAME=/api/v1/log.cgi | grep -q 'after the restart'" || fail "log stopped with dmesg"

# screen.cgi, once the display is there: an 800x480 RGBA PNG of the shown
# buffer, arriving whole (its chunks are checked by the unit tests).
api screen.cgi | python3 -c '
import struct, sys
raw = sys.stdin.buffer.read()
header = b"Content-type: image/png\r\n\r\n\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR"
assert raw.startswith(header) and raw.endswith(b"\0\0\0\0IEND\xaeB`\x82"), raw[:40]
assert struct.unpack(">IIBB", raw[len(header):len(header) + 10]) == (800, 480, 8, 6)' || fail "screen.cgi did not give the expected PNG"

# 1-Wire: the modem type and label.
label() { "$bin/store" get "MemServiceMode.$1"; }
modem() { api modemdata.cgi --body <(printf '{"devType": "%s"}' "$1") | body >/dev/null; }
modem C9
expect_eq "$(label ServiceModeConnectedModemType)" TypeC "modem type from the first character"
expect_eq "$(label ServiceMode1WireModemLabel)" "Modem encryption started ..." "modem label"
modem X
expect_eq "$(label ServiceMode1WireModemLabel)" "Unknown Modem type connected" "unknown modem"
# A ring command that fails leaves auto detection alone; bad bodies are answered.
auto_detection() { "$bin/store" get MemPersistent.PreMarkedRingAutoDet; }
"$bin/store" set MemPersistent.PreMarkedRingAutoDet false >/dev/null
touch "$ONEWIRE_TOOL_DIR/fail"
api premarkeddata.cgi --body <(printf '{"unit": "imperial", "focusCloseValue": "12"}') | body >/dev/null
expect_eq "$(auto_detection)" false "auto detection untouched on failure"
for bad in '{' '[1]' '{"unit": 5}' '{"unit": "Metric", "focusCloseValue": "1"}' '{"devType": null}'; do
  api premarkeddata.cgi --body <(printf '%s' "$bad") >/dev/null || fail "ring route did not answer: $bad"
  api modemdata.cgi --body <(printf '%s' "$bad") >/dev/null || fail "modem route did not answer: $bad"
done
expect_eq "$(label ServiceModeWritingToRing1Wire)" false "ring flag lowered after a failure and bad bodies"
grep -q "Unit has an invalid value: Metric" /dev/kmsg || fail "invalid unit not logged"
rm "$ONEWIRE_TOOL_DIR/fail"

# A ring request is held while its command runs (here until the gate opens),
# everything else is served meanwhile, and it is answered once the command
# ends. Its data reaches the command verbatim, never a shell (short enough
# for the device's 128-byte command line, so it is really run).
mkfifo "$ONEWIRE_TOOL_DIR/gate"
exec 8<>"$ONEWIRE_TOOL_DIR/gate"
pwned=/tmp/onewire-pwned-$$
rm -f "$pwned"*
hostile="0';touch $pwned;'\$(touch ${pwned}2)"
ring() { api premarkeddata.cgi --body <(printf '{"unit": "metric", "focusCloseValue": "%s"}' "$hostile") >/dev/null & }
# The stand-in names its pid while it waits at the gate.
waiting_tool() { cat "$ONEWIRE_TOOL_DIR/waiting"; }
ring
ring_request=$!
wait_until 200 waiting_tool >/dev/null || fail "1-Wire command not started"
expect_tree "while a 1-Wire command runs"
kill -0 "$ring_request" 2>/dev/null || fail "the ring request was answered before its command ended"
echo >&8
wait "$ring_request" || fail "the ring request was not answered once its command ended"
[ ! -e "$pwned" ] && [ ! -e "${pwned}2" ] || fail "ring data reached a shell"
grep -qF "1\\n$hostile\\n\\n" "$ONEWIRE_TOOL_DIR/ring.log" || fail "ring data not passed verbatim: $(cat "$ONEWIRE_TOOL_DIR/ring.log")"
grep -q "args: -e -m knob" "$ONEWIRE_TOOL_DIR/ring.log" || fail "tool options"
expect_eq "$(auto_detection)" true "auto detection pulsed on success"
expect_eq "$(label ServiceModeWritingToRing1Wire)" false "ring flag lowered"
ring
wait_until 200 waiting_tool >/dev/null || fail "second 1-Wire command not started"
tool=$(waiting_tool)
dmesg=$(pgrep -P "$service_pid" -f dmesg) || fail "no dmesg child"

# A service killed outright leaves none of them running (gone, or a zombie).
kill -KILL "$service_pid"
for child in $tool $dmesg; do
  wait_until 100 sh -c "! grep -qs '^State:[[:space:]]*[^Z]' /proc/$child/status" || fail "child $child outlived the service"
done
echo "service_diagnostics: all checks passed"
