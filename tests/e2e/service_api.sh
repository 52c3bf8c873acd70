# The variable API of the real service: all.cgi, set.cgi, update.cgi and
# unknown scripts, over FastCGI, with the broker and the store around it.
source "$(dirname "$0")/lib/stack.sh"
stack_start

# all.cgi: valid JSON, the FastCGI request id echoed, live values.
"$bin/store" set MemMotors.FocusGearTeethSet 42 >/dev/null
api all.cgi --request-id 7 | body | python3 -c '
import json, sys
raw = sys.stdin.buffer.read()
assert raw.startswith(b"{\r\n\"id\": 7,\r\n\"variables\": {\"MemPersistent\" : {") and raw.endswith(b"}}\r\n"), raw[:60]
assert json.loads(raw)["variables"]["MemMotors"]["FocusGearTeethSet"]["value"] == "42"' || fail "all.cgi is not the expected document"

# set.cgi: quoted, single-quoted and bare values; the write lands in shared
# memory and its event reaches another broker client.
start_watch "$SANDBOX_SCRATCH/events.txt"
expect_eq "$(set_body '{"MemMotors": {"FocusGearTeethSet": 12}}')" '{"result": 1 }' "bare value"
expect_eq "$("$bin/store" get MemMotors.FocusGearTeethSet)" 12 "stored bare value"
expect_eq "$(set_body "{'MemStatic': {'ModemVersionString': 'v 2.0'}}")" '{"result": 1 }' "single quotes"
expect_eq "$("$bin/store" get MemStatic.ModemVersionString)" "v 2.0" "stored text"
expect_eq "$(set_body '{"MemApp": {"AppGuiLogLevel": "Warn"}}')" '{"result": 1 }' "enum"
expect_eq "$("$bin/store" get MemApp.AppGuiLogLevel)" Warn "stored enum"
expect_eq "$(set_body '{"MemCamera": {"Index": 499, "CamClipList0": {"CamClipName": "A499"}}}')" '{"result": 1 }' "last list element"
api all.cgi | body | python3 -c '
import json, sys
clips = json.load(sys.stdin)["variables"]["MemCamera"]["CamClipList0"]
assert len(clips) == 500 and clips[499]["CamClipName"]["value"] == "A499", clips[-1]' || fail "last list element not written"
expect_tree "after the writes"
wait_until 100 grep -q VarFocusGearTeethSetChanged "$SANDBOX_SCRATCH/events.txt" || fail "no change event at the broker"

# set.cgi failures answer result 0 and the service keeps serving.
expect_eq "$(set_body '{"MemLens": {"Nope": 1}}')" '{"result": 0, "error": "" }' "unknown variable"
expect_eq "$(set_body '{"MemNope": {"X": 1}}')" '{"result": 0, "error": "" }' "unknown memory"
expect_eq "$(set_body '{"MemLens" {"X": 1}}')" '{"result": 0, "error": "JSON parse error at 11.\u000d\u000a" }' "parse error"
for hostile in '' '{' '{"MemLens": {}}' '{"MemCamera": {"Index": 500, "CamClipList0": {"CamClipName": "x"}}}' \
    '{"MemCamera": {"Index": "x", "CamClipList0": {"CamClipName": "x"}}}' \
    '{"MemMotors": {"Index": 1, "FocusMotor": {"GearTeethSet": 3}}}' \
    '{"MemCamera": {"Index": 99999999999, "CamClipList0": {"CamClipName": "x"}}}' \
    "$(python3 -c 'print("{\"a\":" * 5000 + "1" + "}" * 5000)')"; do
  expect_eq "$(set_body "$hostile" | head -c 12)" '{"result": 0' "hostile body ${hostile:0:40}"
done

# update.cgi: held requests are answered together after a change from
# another process, with the same body and their own ids, in the form they
# always had; only a header naming the change point comes before it.
api update.cgi --request-id 21 >"$SANDBOX_SCRATCH/update1" &
first=$!
api update.cgi --request-id 22 >"$SANDBOX_SCRATCH/update2" &
second=$!
wait_until 200 requests_read 2 || fail "update.cgi requests not read"
kill -0 $first 2>/dev/null || fail "update.cgi answered without a change"
"$bin/store" set MemDynamic.RadioRSSI -70 >/dev/null  # posts its change event
wait $first $second || fail "held update requests not answered"
python3 - "$SANDBOX_SCRATCH/update1" "$SANDBOX_SCRATCH/update2" <<'PY' || fail "update answers differ from the expected"
import json, re, sys
header = rb'X-Change-Sequence: [!-~]{1,64}\r\nContent-type: application/json\r\n\r\n'
one, two = (open(p, 'rb').read() for p in sys.argv[1:])
assert re.match(header + rb'\{\r\n"id": 21,\r\n"errors": \[\],\r\n"variables": \{\r\n  "MemDynamic" : \{\r\n    "RadioRSSI" : ', one), one[:200]
assert re.match(header + rb'\{\r\n"id": 22,\r\n', two), two[:80]
assert one.split(b',\r\n', 1)[1] == two.split(b',\r\n', 1)[1]
assert one.endswith(b'}\r\n  }\r\n}\r\n}\r\n'), one[-40:]
update = json.loads(one.split(b'\r\n\r\n', 1)[1])
assert update["variables"] == {"MemDynamic": {"RadioRSSI": {"max": "0", "min": "-200", "type": "int", "value": "-70"}}}, update
PY

# Unknown scripts get the failure object.
expect_eq "$(api $'v"2\\\t.cgi' | body)" \
  "{\"result\": 0, \"error\": \"Unknown script: '/api/v1/v\\u00222\\u005c\\u0009.cgi'\" }" "unknown script, escaped"
expect_eq "$("$bin/fcgi-client" | body)" "{\"result\": 0, \"error\": \"Unknown script: ''\" }" "no script name"

# SIGTERM with a held request: exit 0 and the held request gets its end record.
api update.cgi >/dev/null &
held=$!
wait_until 200 requests_read 1 || fail "the update.cgi request was not read"
expect_clean_exit "with a held request"
wait $held || fail "the held request got no end record"
echo "service_api: all checks passed"
