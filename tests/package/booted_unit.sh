# The package installed by dpkg under a real systemd, in a container of the
# machine's own root: start, restarts with requests waiting in the socket,
# the watchdog, a kill and a stop do what the unit says. (Each route through
# the packaged site: unpacked_service.sh.)
build=$(cd "$1" && pwd)
source "$(dirname "$0")/../e2e/lib/common.sh"
deb=$(echo "$build"/webservice_*.deb)
[ -f "$deb" ] || fail "no package in $build: scripts/package makes it"
command -v systemd-nspawn >/dev/null ||
  { echo "SKIP: systemd-nspawn is missing (Debian package systemd-container)"; exit 77; }

machine=$work/machine
mkdir -p "$machine" "$work"/{upper,work}
mount -t overlay overlay -o "lowerdir=/,upperdir=$work/upper,workdir=$work/work" "$machine"
# Its own network, the sources and build as here.
nspawn_options=(-D "$machine" --private-network --register=no --keep-unit --bind-ro="$root" --bind-ro="$build")
systemd-nspawn "${nspawn_options[@]}" --quiet true >"$work/probe.log" 2>&1 ||
  { echo "SKIP: systemd-nspawn cannot run here: $(tail -3 "$work/probe.log")"; exit 77; }
# Booted to the basic units only: the test starts what it needs.
systemd-nspawn "${nspawn_options[@]}" --console=passive -b systemd.unit=basic.target >"$work/boot.log" 2>&1 &
nspawn=$!
leader=""
stop_container() { [ -n "$leader" ] && kill -KILL "$leader" 2>/dev/null; wait "$nspawn" 2>/dev/null || true; }
trap stop_container EXIT
container_started() { leader=$(pgrep -P "$nspawn"); }
wait_until 200 container_started || fail "the container's init did not start: $(tail -3 "$work/boot.log")"
in_machine() { nsenter -t "$leader" -a "$@"; }
# At most three minutes in all.
booted() { [[ $(timeout 5 nsenter -t "$leader" -a systemctl is-system-running --wait) =~ ^(running|degraded)$ ]]; }
wait_until 36 booted || fail "the container did not boot: $(in_machine systemctl --failed --no-pager)"

# The stand-ins: hardware, display and kernel-log files in the container's
# own /dev (it has no /dev/kmsg and may not read the kernel's), the display's
# and the scripted dmesg through a drop-in.
in_machine sh -c ': >/dev/kmsg'
in_machine "$root/scripts/hw-standins" serial=1234 board=B1
in_machine "$bin/fbpattern" >/dev/null
in_machine mkdir -p /var/volatile /update /etc/systemd/system/webservice.service.d
in_machine tee /etc/systemd/system/webservice.service.d/stand-ins.conf >/dev/null <<EOF
[Service]
Environment=LD_PRELOAD=$build/lib/libfbstub.so PATH=$root/tests/fixtures/bin:$root/tools/onewire:/usr/sbin:/usr/bin:/sbin:/bin
EOF
in_machine systemd-run --quiet --unit=broker "$bin/broker"
wait_until 100 in_machine test -S /var/volatile/message-broker.socket || fail "the broker did not start"
in_machine systemd-run --quiet --wait --unit=store "$bin/store" create >/dev/null
in_machine systemd-run --quiet --unit=updater "$bin/updater"
# As on the device: no site but the package's, and no policy (a container
# image's) that keeps the package's scripts from starting its units.
in_machine rm -f /etc/nginx/sites-enabled/default /usr/sbin/policy-rc.d
in_machine dpkg -i "$deb" >"$work/dpkg.log" 2>&1 || fail "dpkg -i: $(cat "$work/dpkg.log")"
in_machine systemctl start nginx.service

unit_is() { [ "$(in_machine systemctl show -P ActiveState webservice.service)" = "$1" ]; }
main_pid() { in_machine systemctl show -P MainPID webservice.service; }
log_count() { in_machine grep -c "$1" /dev/kmsg || true; }
log_grew() { [ "$(log_count "$1")" -gt "$2" ]; }
wait_until 300 unit_is active || fail "the service is not active after installation: $(in_machine systemctl status webservice.service)"

# Held at the broker's gate it has said nothing yet: still activating. (The
# broker, which reopens a gate left closed a second or two, stopped meanwhile.)
in_machine systemctl stop webservice.service
in_machine python3 "$root/tests/package/hold-gate.py" >"$work/gate" &
gate=$!
wait_until 100 grep -q held "$work/gate" || fail "the broker's gate was not taken"
in_machine systemctl kill -s STOP broker.service
waits=$(log_count "Waiting for server")
in_machine systemctl start --no-block webservice.service
wait_until 200 log_grew "Waiting for server" "$waits" || fail "the service does not wait at the gate"
unit_is activating || fail "not activating while held at the gate"
kill "$gate"
in_machine systemctl kill -s CONT broker.service
wait_until 200 unit_is active || fail "not active once past the gate"

# Requests through the front server while the service restarts three times.
in_machine bash -c 'for _ in $(seq 20000); do [ -e /run/load-done ] && break
    curl -s -m 10 -o /dev/null -w "%{http_code}\n" http://127.0.0.1/api/v1/all.cgi; done' >"$work/codes" &
load=$!
answered_20_more() { [ "$(wc -l <"$work/codes")" -ge $(($1 + 20)) ]; }
for round in 1 2 3 4; do
  wait_until 200 answered_20_more "$(wc -l <"$work/codes")" || fail "the load stalled in round $round"
  [ $round = 4 ] || in_machine systemctl restart webservice.service
done
in_machine touch /run/load-done
wait "$load"
echo "requests across 3 restarts: $(wc -l <"$work/codes") sent"
! grep -v '^200$' "$work/codes" || fail "requests failed across 3 restarts: $(in_machine tail -5 /var/log/nginx/error.log)"

# A hung loop is ended by the watchdog, a killed service restarted.
restarted_from() { unit_is active && [ "$(main_pid)" != "$1" ] && [ "$(main_pid)" != 0 ]; }
hung=$(main_pid)
in_machine kill -STOP "$hung"
wait_until 600 restarted_from "$hung" || fail "a hung service was not restarted"
[[ $(in_machine journalctl -q -u webservice.service) == *"Watchdog timeout"* ]] || fail "the restart was not the watchdog's"
killed=$(main_pid)
in_machine kill -KILL "$killed"
wait_until 300 restarted_from "$killed" || fail "a killed service was not restarted"

# A stop leaves no process of the unit (the service and its dmesg), once
# the last is reaped (on a loaded machine, not always when stop returns).
unit_processes() { in_machine sh -c "grep -l '/webservice.service\$' /proc/[0-9]*/cgroup 2>/dev/null | wc -l"; }
[ "$(unit_processes)" -ge 2 ] || fail "the service and its dmesg are not in the unit"
in_machine systemctl stop webservice.service
no_unit_process() { [ "$(unit_processes)" = 0 ]; }
wait_until 100 no_unit_process || fail "processes of the unit after a stop: $(unit_processes)"
echo PASS
