# Cross-site writes and foreign Host names, through nginx with curl and
# straight over FastCGI: refused ones answer 403 with the family's failure
# object and leave memory, events, files and the 1-Wire command untouched;
# the device's own page, native clients and reads pass as before. The front
# server's headers keep a planted script and foreign frames from acting.
set -euo pipefail
build=$1
source "$(dirname "$0")/lib/stack.sh"
work=$SANDBOX_SCRATCH
export ONEWIRE_TOOL_DIR=$work/onewire
mkdir -p "$ONEWIRE_TOOL_DIR"
: >"$ONEWIRE_TOOL_DIR/ring.log"
# The allowed-names file lives under /etc: a private overlay keeps the
# machine's own /etc as it is.
mkdir "$work/etc-upper" "$work/etc-work"
mount -t overlay overlay -o "lowerdir=/etc,upperdir=$work/etc-upper,workdir=$work/etc-work" /etc
mkdir -p /etc/webservice
printf '# the set'"'"'s own names\nCart-7.Example.\n' >/etc/webservice/allowed-hosts
# The kernel log as log.cgi serves it: what the test writes into this pipe.
export FAKE_DMESG_OUTPUT=$work/dmesg.fifo
mkfifo "$FAKE_DMESG_OUTPUT"
exec 7<>"$FAKE_DMESG_OUTPUT"
stack_start
WEB_ROOT=$root/web start_nginx
events=$work/events.txt
start_watch "$events"

base=http://127.0.0.1:8080
API_REFUSED='{"result": 0, "error": "Cross-site request refused" }'
APP_REFUSED='{"result": "Cross-site request refused" }'
FORBIDDEN=$'Status: 403 Forbidden\r\n'"$JSON_HEADER"
printf '{"MemMotors": {"FocusGearTeethSet": 77}}' >"$work/set"
printf '{"devType": "C9"}' >"$work/modem"
printf '{"unit": "metric", "focusCloseValue": "5"}' >"$work/ring"
printf 'lens table' >"$work/table"
printf 'firmware' >"$work/firmware"
mkdir -p /var/KPT
printf 'kept' >/var/KPT/kept.tab

# Through nginx: the body then the status code.
web() { curl -sS -w ' %{http_code}' "$@"; }
# Everything a refused request must leave alone.
snapshot() {
  find /var /update /dev/shm "$ONEWIRE_TOOL_DIR" -path /var/log -prune -o -path /var/lib -prune \
    -o -type f -print0 | sort -z | xargs -0 md5sum
}
before=$(snapshot)
events_before=$(wc -l <"$events")

# Writes from a foreign page, whatever its scheme, port or "null".
for origin in http://evil.example null http://127.0.0.1:9999 https://127.0.0.1 'http://127.0.0.1:8080/'; do
  o=(-H "Origin: $origin")
  expect_eq "$(web "${o[@]}" --data-binary "@$work/set" "$base/api/v1/set.cgi")" "$API_REFUSED 403" "set.cgi from $origin"
  expect_eq "$(web "${o[@]}" --data-binary "@$work/modem" "$base/api/v1/modemdata.cgi")" "$API_REFUSED 403" "modemdata from $origin"
  expect_eq "$(web "${o[@]}" --data-binary "@$work/ring" "$base/api/v1/premarkeddata.cgi")" "$API_REFUSED 403" "ring from $origin"
  expect_eq "$(web "${o[@]}" -X PUT --data-binary "@$work/table" "$base/zelapp/v1/lenstables/file/new.tab")" \
    "$APP_REFUSED 403" "lens table PUT from $origin"
  expect_eq "$(web "${o[@]}" -X DELETE "$base/zelapp/v1/lenstables/file/kept.tab")" "$APP_REFUSED 403" "DELETE from $origin"
  expect_eq "$(web "${o[@]}" -F deviceid=B1-1234 -F "file=@$work/firmware" "$base/zelapp/v1/device/update")" \
    "$APP_REFUSED 403" "upload from $origin"
  expect_eq "$(web "${o[@]}" -X POST "$base/api/v1/all.cgi")" "$API_REFUSED 403" "POST to a read from $origin"
done
# A GET of set.cgi or of the status carries its intent in the route; a
# browser's fetch metadata shows a cross-site request without an Origin too
# (an <img> sends none), reads pass.
o=(-H "Origin: http://evil.example")
# A browser asks before a foreign page's PUT: refused, with no permission.
preflight=$(curl -sS -D - -o /dev/null -X OPTIONS "${o[@]}" -H "Access-Control-Request-Method: PUT" \
  "$base/zelapp/v1/lenstables/file/new.tab")
[[ $preflight == *' 403 '* && $preflight != *Access-Control-Allow* ]] || fail "preflight answered: $preflight"
expect_eq "$(web "${o[@]}" -G --data-urlencode x=1 "$base/api/v1/set.cgi")" "$API_REFUSED 403" "GET set.cgi"
expect_eq "$(web "${o[@]}" "$base/zelapp/v1/lenstables/file/kept.tab")" "kept 200" "GET of a file"
c=(-H "Sec-Fetch-Site: cross-site")
expect_eq "$(web "${c[@]}" "$base/zelapp/v1/device/status")" "$APP_REFUSED 403" "status with Sec-Fetch-Site"
expect_eq "$(web "${c[@]}" --data-binary "@$work/set" "$base/api/v1/set.cgi")" "$API_REFUSED 403" "set.cgi with Sec-Fetch-Site"
expect_eq "$(web "${c[@]}" "$base/zelapp/v1/setups/list")" '[] 200' "a read with Sec-Fetch-Site"
[[ $(web "$base/zelapp/v1/device/status") == '{"status": '*' 200' ]] || fail "status without fetch metadata"
# A rebinding name, on every route, with or without an Origin.
for host in evil.example "$(hostname).evil.example" 'localhost.localdomain:8080' 'bad_host:x'; do
  h=(-H "Host: $host")
  expect_eq "$(web "${h[@]}" "$base/api/v1/all.cgi")" "$API_REFUSED 403" "all.cgi for Host $host"
  expect_eq "$(web "${h[@]}" "$base/zelapp/v1/device/info")" "$APP_REFUSED 403" "device info for Host $host"
  expect_eq "$(web "${h[@]}" -H "Origin: http://$host" --data-binary "@$work/set" "$base/api/v1/set.cgi")" \
    "$API_REFUSED 403" "same-origin set.cgi for Host $host"
done
# Straight over FastCGI with a browser's headers.
foreign=(--param HTTP_HOST=10.0.0.5 --param HTTP_ORIGIN=http://evil.example)
expect_eq "$(api set.cgi "${foreign[@]}" --body "$work/set")" "$FORBIDDEN$API_REFUSED" "set.cgi over FastCGI"
expect_eq "$(api premarkeddata.cgi "${foreign[@]}" --body "$work/ring")" "$FORBIDDEN$API_REFUSED" "ring over FastCGI"
expect_eq "$(app PUT /setups/file/a.stp "${foreign[@]}" --body "$work/table")" "$FORBIDDEN$APP_REFUSED" "PUT over FastCGI"
expect_eq "$(api set.cgi --param HTTP_ORIGIN=http://10.0.0.5 --body "$work/set")" "$FORBIDDEN$API_REFUSED" \
  "an Origin without a Host"
expect_eq "$(api all.cgi --param HTTP_HOST=EVIL.example.)" "$FORBIDDEN$API_REFUSED" "all.cgi for a foreign Host"

expect_eq "$(snapshot)" "$before" "files, memory and the 1-Wire log after refusals"
# A write of our own marks the end of the refusals in the event stream:
# once its event is there, nothing refused posted one before it.
expect_eq "$(set_body '{"MemMotors": {"FocusGearTeethSet": 12}}')" '{"result": 1 }' "write without an Origin"
wait_until 200 grep -q VarFocusGearTeethSetChanged "$events" || fail "no event for the marker write"
expect_eq "$(tail -n +$((events_before + 1)) "$events" | awk '{print $2}')" VarFocusGearTeethSetChanged \
  "events after refusals"
# The very first refusal is logged; a later one once the second it falls in
# has room (more refusals may be needed to get there).
grep -q "Refused cross-site /api/v1/set.cgi from Origin 'http://evil.example' for Host '127.0.0.1:8080'" /dev/kmsg ||
  fail "cross-site refusal not logged"
wait_until 100 sh -c "'$bin/fcgi-client' --param SCRIPT_NAME=/api/v1/log.cgi --param HTTP_HOST=rebound.example >/dev/null;
  grep -q \"Refused /api/v1/log.cgi for the foreign Host 'rebound.example'\" /dev/kmsg" || fail "foreign Host not logged"

# The device's own page: same origin, also by name, port given or not.
same() {
  local host=$1 origin=$2 value=$3
  printf '{"MemMotors": {"FocusGearTeethSet": %s}}' "$value" >"$work/same"
  expect_eq "$(web -H "Host: $host" -H "Origin: $origin" --data-binary "@$work/same" "$base/api/v1/set.cgi")" \
    '{"result": 1 } 200' "same-origin write for $host"
  expect_eq "$("$bin/store" get MemMotors.FocusGearTeethSet)" "$value" "stored for $host"
}
same 127.0.0.1:8080 http://127.0.0.1:8080 21
same localhost:8080 http://LOCALHOST:8080 22
same "$(hostname):8080" "http://$(hostname).:8080" 23
same "$(hostname).local.:8080" "http://$(hostname).local:8080" 24
same cart-7.example http://cart-7.example:80 25
same '[::1]:8080' 'http://[0:0::1]:8080' 26
expect_eq "$(web -H 'Host: localhost:8080' -H 'Origin: http://localhost:8080' -X PUT --data-binary "@$work/table" \
  "$base/zelapp/v1/lenstables/file/own.tab")" '{"result": "Success" } 200' "same-origin PUT"
# Reads keep answering a foreign page; native clients send no Origin.
expect_eq "$(curl -sS -o /dev/null -w '%{http_code}' -H 'Origin: null' "$base/api/v1/all.cgi")" 200 "all.cgi from null"
expect_eq "$(web -H 'Origin: http://evil.example' "$base/zelapp/v1/setups/list")" '[] 200' "list from a foreign page"
expect_eq "$(web --data-binary "@$work/set" "$base/api/v1/set.cgi")" '{"result": 1 } 200' "write without an Origin"
expect_eq "$(web -X DELETE "$base/zelapp/v1/lenstables/file/kept.tab")" '{"result": "Success" } 200' "DELETE without an Origin"
api all.cgi --param HTTP_HOST=10.1.2.3:1 --param HTTP_ORIGIN=null | body | python3 -c 'import json, sys; json.load(sys.stdin)' ||
  fail "read over FastCGI"

# A script name that is markup reaches the kernel log and log.cgi as it is;
# the front server tells the browser to run no script of that answer. Line
# breaks in it forge no log line of their own.
curl -sS -o /dev/null "$base/api/v1/%3Cimg%20src=x%20onerror=alert(1)%3E%0D%0Aforged"
grep -a 'onerror' /dev/kmsg >&7
grep -q "^forged" /dev/kmsg && fail "a script name forged a log line"
wait_until 100 sh -c "curl -sS -D '$work/log.head' '$base/api/v1/log.cgi' | grep -qF '<img src=x onerror=alert(1)>??forged'" ||
  fail "the planted name is not in log.cgi"
for header in 'Content-Security-Policy: sandbox' 'X-Content-Type-Options: nosniff'; do
  grep -qix "$header"$'\r' "$work/log.head" || fail "log.cgi without $header: $(cat "$work/log.head")"
done
# The page runs only its own scripts and styles, and no other page frames it.
page_head=$(curl -sS -D - -o /dev/null "$base/" | tr -d '\r')
[[ $page_head == *"X-Content-Type-Options: nosniff"* && $page_head == *"Content-Security-Policy: "*"script-src 'self'; style-src 'self';"*"frame-ancestors 'none'"* ]] ||
  fail "the page's headers: $page_head"

# Refusals come thick and fast; their log lines do not. Bounded by the
# seconds the burst took, whole ones begun, at five lines each.
lines_before=$(grep -c "Refused" /dev/kmsg)
start=$(date +%s)
for _ in $(seq 60); do api all.cgi --param HTTP_HOST=evil.example >/dev/null; done
seconds=$(($(date +%s) - start + 1))
logged=$(($(grep -c "Refused" /dev/kmsg) - lines_before))
[ "$logged" -ge 1 ] && [ "$logged" -le $((5 * (seconds + 1))) ] || fail "$logged refusal lines in $seconds s"
expect_alive "refusals"
echo PASS
