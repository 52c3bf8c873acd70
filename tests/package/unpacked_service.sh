# The package unpacked into a scratch root: its systemd units verified, and
# its service, page and front-server site run in the sandbox, the service
# under a notification socket as systemd starts it.
source "$(dirname "$0")/../e2e/lib/stack.sh"
helpers=$root/tests/package
deb=$(echo "$build"/webservice_*.deb)
[ -f "$deb" ] || fail "no package in $build: scripts/package makes it"
unpacked=$work/unpacked
dpkg-deb -x "$deb" "$unpacked"

# The unit names /usr/sbin/webservice: the packaged one laid over this
# namespace's /usr/sbin.
unit=$unpacked/lib/systemd/system/webservice.service
mkdir -p "$work"/sbin/{upper,work}
mount -t overlay overlay -o "lowerdir=/usr/sbin,upperdir=$work/sbin/upper,workdir=$work/sbin/work" /usr/sbin
cp "$unpacked/usr/sbin/webservice" /usr/sbin/
MANPATH=$unpacked/usr/share/man systemd-analyze verify "$unit" "${unit%.service}.socket" >"$work/verify" 2>&1 &&
  [ ! -s "$work/verify" ] || fail "systemd-analyze verify fails or warns: $(cat "$work/verify")"
systemd-analyze security --offline=true --threshold=30 "$unit" >"$work/security" ||
  fail "exposure over 3.0: $(tail -1 "$work/security")"

manager=@webservice-manager
messages=$work/messages
python3 "$helpers/notify-listener.py" "$manager" "$messages" &
listener_pid=$!
stack_pids+=($listener_pid)
wait_until 100 grep -q listening "$messages" || fail "the notification listener did not start"
tell_manager() { python3 -c 'import socket, sys; socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM).sendto(sys.argv[2].encode(), "\0" + sys.argv[1][1:])' "$manager" "$1"; }
# Only the records written since the service started count.
kernel_log_has() { tail -c "+$((log_start + 1))" /dev/kmsg | grep -qF "$1"; }

# Held at the broker's gate, the service has no port open yet: it must not
# say it is ready. Datagrams arrive in order, so once the listener has seen
# a mark sent now it has seen everything the service sent before. The broker
# reopens a gate left closed for a second or two: stopped meanwhile.
stack_prepare
python3 "$helpers/hold-gate.py" >"$work/gate" &
gate_pid=$!
stack_pids+=($gate_pid)
wait_until 100 grep -q held "$work/gate" || fail "the broker's gate was not taken"
kill -STOP "$broker_pid"
log_start=$(stat -c %s /dev/kmsg)
NOTIFY_SOCKET=$manager WATCHDOG_USEC=400000 SERVICE_BINARY=$unpacked/usr/sbin/webservice launch_service
wait_until 200 kernel_log_has "Waiting for server" || fail "the service does not wait at the gate"
tell_manager MARK
wait_until 100 grep -q MARK "$messages" || fail "the mark did not arrive"
grep -q READY "$messages" && fail "ready before its port opened: $(cat "$messages")"
port_open 9000 && fail "port 9000 open while held at the broker's gate"
kill "$gate_pid"
kill -CONT "$broker_pid"
wait_until 200 grep -q READY "$messages" || fail "no READY=1"
grep -q 'READY=1 port-open' "$messages" || fail "READY=1 came before port 9000 accepted: $(cat "$messages")"

# Pings come from the loop's own timer, at half of WATCHDOG_USEC.
grep -qs 'it_interval: (0, 200000000)' "/proc/$service_pid/fdinfo/"* || fail "no watchdog timer of 200 ms"
pings_at_least() { [ "$(grep -c WATCHDOG=1 "$messages")" -ge "$1" ]; }
wait_until 600 pings_at_least 3 || fail "fewer than 3 watchdog pings"

# The unpacked page and site in front of it.
NGINX_SITE=$unpacked/etc/nginx/sites-available/webservice WEB_ROOT=$unpacked/usr/share/webservice/www start_nginx
page=$unpacked/usr/share/webservice/www
curl -sSf "$base/" | cmp -s - "$page/index.html" || fail "/ is not the page"
(cd "$page" && find . -type f) | while read -r file; do
  curl -sSf "$base/${file#./}" | cmp -s - "$page/$file" || fail "$file is not served as packaged"
done
# Every route through it: method, path, body, a text the answer holds ("-":
# none), answered with status 200.
while read -r method path body expected; do
  [ "$body" = - ] && body=""
  [ "$expected" = - ] && expected=""
  answer=$(curl -sS -m 5 -w '\n%{http_code}' -X "$method" ${body:+--data-binary "$body"} "$base$path" | tr -d '\0') ||
    fail "$method $path failed"
  [[ $answer == *"$expected"*$'\n200' ]] || fail "$method $path: [$expected] and 200 not in [${answer:0:200}]"
done <<'EOF'
GET /api/v1/update.cgi?since=x - "variables"
POST /api/v1/set.cgi {"MemMotors":{"FocusGearTeethSet":12}} "result": 1
GET /api/v1/screen.cgi - PNG
GET /api/v1/log.cgi - Booting
GET /zelapp/v1/device/info - "_id": "B1-1234"
PUT /zelapp/v1/lenstables/file/a.tab lens Success
DELETE /zelapp/v1/lenstables/file/a.tab - Success
EOF
expect_eq "$(curl -sS -m 10 -F deviceid=LENS-7 -F "file=@$root/VERSION" "$base/zelapp/v1/device/update")" \
  '{"taskid": "LENS-7" }' "update upload"
cmp -s "$root/VERSION" /update/client.cmf || fail "the uploaded file is not in /update"

# The manager gone: its loss is logged, and the service goes on.
kill "$listener_pid"
wait_until 200 kernel_log_has "Cannot tell the service manager WATCHDOG=1" || fail "the lost manager is not logged"
expect_alive "after losing the manager"
expect_tree "after losing the manager"
expect_clean_exit "after losing the manager"
echo PASS
