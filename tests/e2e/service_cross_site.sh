# Cross-site writes and foreign Host names through the real stack: refusals
# and what they leave untouched, the device's own names, the refusals' log,
# and the front server's headers. (Each route's verdict: originguard_test.cpp.)
source "$(dirname "$0")/lib/stack.sh"
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

API_REFUSED='{"result": 0, "error": "Cross-site request refused" }'
APP_REFUSED='{"result": "Cross-site request refused" }'
printf '{"MemMotors": {"FocusGearTeethSet": 77}}' >"$work/set"
printf 'lens table' >"$work/table"
mkdir -p /var/KPT
printf 'kept' >/var/KPT/kept.tab
# Everything a refused request must leave alone.
snapshot() {
  find /var /update /dev/shm "$ONEWIRE_TOOL_DIR" -path /var/log -prune -o -path /var/lib -prune \
    -o -type f -print0 | sort -z | xargs -0 md5sum
}
before=$(snapshot)
events_before=$(wc -l <"$events")

# Through nginx: the body then the status code.
web() { curl -sS -w ' %{http_code}' "$@"; }
refused() { local expected=$1; shift; expect_eq "$(web "$@")" "$expected 403" "refusal of $*"; }
o=(-H "Origin: http://evil.example")
refused "$API_REFUSED" "${o[@]}" --data-binary "@$work/set" "$base/api/v1/set.cgi"
refused "$API_REFUSED" "${o[@]}" -X POST "$base/api/v1/all.cgi"  # any method but GET changes
refused "$API_REFUSED" -H "Origin: null" -d '{"unit": "metric", "focusCloseValue": "5"}' "$base/api/v1/premarkeddata.cgi"
refused "$APP_REFUSED" -H "Origin: http://127.0.0.1:9999" -X DELETE "$base/zelapp/v1/lenstables/file/kept.tab"
refused "$APP_REFUSED" "${o[@]}" -F deviceid=B1-1234 -F "file=@$work/table" "$base/zelapp/v1/device/update"
# A browser asks before a foreign page's PUT: refused, with no permission.
preflight=$(curl -sS -D - -o /dev/null -X OPTIONS "${o[@]}" -H "Access-Control-Request-Method: PUT" \
  "$base/zelapp/v1/lenstables/file/new.tab")
[[ $preflight == *' 403 '* && $preflight != *Access-Control-Allow* ]] || fail "preflight answered: $preflight"
# A browser's fetch metadata shows a cross-site request without an Origin too.
c=(-H "Sec-Fetch-Site: cross-site")
refused "$APP_REFUSED" "${c[@]}" "$base/zelapp/v1/device/status"
expect_eq "$(web "${c[@]}" "$base/zelapp/v1/setups/list")" '[] 200' "a read with Sec-Fetch-Site"
# A rebinding name, read or write, with or without an Origin.
refused "$APP_REFUSED" -H "Host: evil.example" "$base/zelapp/v1/device/info"
for host in "$(hostname).evil.example" localhost.localdomain:8080 bad_host:x; do
  refused "$API_REFUSED" -H "Host: $host" -H "Origin: http://$host" --data-binary "@$work/set" "$base/api/v1/set.cgi"
done
# Straight over FastCGI the status line comes first; an Origin without a
# Host is foreign.
FORBIDDEN=$'Status: 403 Forbidden\r\n'"$JSON_HEADER"
foreign=(--param HTTP_HOST=10.0.0.5 --param HTTP_ORIGIN=http://evil.example)
expect_eq "$(api set.cgi "${foreign[@]}" --body "$work/set")" "$FORBIDDEN$API_REFUSED" "set.cgi over FastCGI"
expect_eq "$(app PUT /setups/file/a.stp "${foreign[@]}" --body "$work/table")" "$FORBIDDEN$APP_REFUSED" "PUT over FastCGI"
expect_eq "$(api set.cgi --param HTTP_ORIGIN=http://10.0.0.5 --body "$work/set")" "$FORBIDDEN$API_REFUSED" \
  "an Origin without a Host"

expect_eq "$(snapshot)" "$before" "files, memory and the 1-Wire log after refusals"
# A write of our own marks the end of the refusals in the event stream:
# once its event is there, nothing refused posted one before it.
expect_eq "$(web --data-binary "@$work/set" "$base/api/v1/set.cgi")" '{"result": 1 } 200' "write without an Origin"
wait_until 200 grep -q VarFocusGearTeethSetChanged "$events" || fail "no event for the marker write"
expect_eq "$(tail -n +$((events_before + 1)) "$events" | awk '{print $2}')" VarFocusGearTeethSetChanged \
  "events after refusals"
# The very first refusal is logged; a later one once the second it falls in
# has room (more refusals may be needed to get there).
grep -q "Refused cross-site /api/v1/set.cgi from Origin 'http://evil.example' for Host '127.0.0.1:8080'" /dev/kmsg ||
  fail "cross-site refusal not logged"
wait_until 100 sh -c "'$bin/fcgi-client' --param SCRIPT_NAME=/api/v1/log.cgi --param HTTP_HOST=rebound.example >/dev/null;
  grep -q \"Refused /api/v1/log.cgi for the foreign Host 'rebound.example'\" /dev/kmsg" || fail "foreign Host not logged"

# The device's own page by its names: localhost, the device's own with .local
# or a trailing dot, and the allowed-names file's (any case).
same() {
  printf '{"MemMotors": {"FocusGearTeethSet": %s}}' "$3" >"$work/same"
  expect_eq "$(web -H "Host: $1" -H "Origin: $2" --data-binary "@$work/same" "$base/api/v1/set.cgi")" \
    '{"result": 1 } 200' "same-origin write for $1"
  expect_eq "$("$bin/store" get MemMotors.FocusGearTeethSet)" "$3" "stored for $1"
}
same localhost:8080 http://LOCALHOST:8080 22
same "$(hostname).local.:8080" "http://$(hostname).local:8080" 24
same cart-7.example http://cart-7.example:80 25

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
logged=$(($(grep -c "Refused" /dev/kmsg) - lines_before))
[ "$logged" -ge 1 ] && [ "$logged" -le $((5 * ($(date +%s) - start + 2))) ] || fail "$logged refusal lines"
expect_alive "refusals"
echo PASS
