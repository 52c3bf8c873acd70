# The running service with everything around it, for end-to-end tests inside
# scripts/sandbox: the broker, the variable store, the hardware, display and
# kernel-log stand-ins, the service, and on request the update stand-in and
# nginx in front on port 8080. Sourced as common.sh is.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

# Board B1, serial 1234 unless other fields are given.
stack_start() { stack_prepare "$@"; start_service; }

# The broker logs every client's subscriptions: a client has subscribed once
# their count has grown by its own.
start_broker() {
  "$bin/broker" --log >"$SANDBOX_SCRATCH/broker.log" &
  broker_pid=$!
  stack_pids+=($broker_pid)
  wait_until 100 test -S /var/volatile/message-broker.socket || fail "the broker did not start"
}
subscriptions() { grep -c ' subscribe ' "$SANDBOX_SCRATCH/broker.log" || true; }
subscribed() { [ "$(subscriptions)" -ge "$1" ]; }

# Everything the service needs around it.
stack_prepare() {
  BUILD_DIR=$build "$root/scripts/hw-standins" serial=1234 board=B1 "$@"
  start_broker
  "$bin/store" create >/dev/null
  "$bin/fbpattern" >/dev/null
}

start_service() { launch_service; wait_until 200 port_open 9000 || fail "the service did not start"; }

# The service (SERVICE_BINARY, or the one built) with the display stand-in
# preloaded and the 1-Wire command stand-in on PATH, and the scripted dmesg
# first unless STACK_REAL_DMESG=1; not waiting for its port.
launch_service() {
  local fixtures=$root/tests/fixtures/bin:
  [ "${STACK_REAL_DMESG:-}" = 1 ] && fixtures=""
  PATH="$fixtures$root/tools/onewire:$PATH" LD_PRELOAD="$build/lib/libfbstub.so" \
    ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0" "${SERVICE_BINARY:-$bin/webservice}" &
  service_pid=$!
  stack_pids+=($service_pid)
}

# The stack with nginx serving the page as in the demo, for the browser tests.
start_page_stack() {
  [ -d "$root/tests/web/node_modules/playwright-core" ] || fail "playwright-core is missing: run scripts/install-deps"
  stack_start && WEB_ROOT=$root/web start_nginx
}

# Starts a broker client and waits until it has sent the given number of
# subscriptions.
start_subscriber() {
  local target=$(($(subscriptions) + $1))
  "${@:2}" &
  stack_pids+=($!)
  wait_until 200 subscribed "$target" || fail "$2 did not subscribe"
}
# It must have subscribed (to all) before a test's upload announces a file.
start_updater() { start_subscriber 1 "$bin/updater" "$@"; }
# Prints the events the broker relays (all, or the given ones), one a line,
# into the file given first.
start_watch() { start_subscriber $(($# > 1 ? $# - 1 : 1)) "$bin/broker" --watch "${@:2}" >"$1"; }

# One app request over FastCGI: method, path after /zelapp/v1, fcgi-client
# options. Prints the answer as the service sent it.
app() { "$bin/fcgi-client" --param SCRIPT_NAME=/zelapp/v1 --param "PATH_INFO=$2" --param "REQUEST_METHOD=$1" "${@:3}"; }

# The body of an answer read on standard input: its JSON header (after the
# variable answers' change point header) must be there, and is dropped.
JSON_HEADER=$'Content-type: application/json\r\n\r\n'
body() {
  local answer
  answer=$(mktemp -p "$SANDBOX_SCRATCH")
  cat >"$answer"
  [[ $(head -c 19 "$answer") != "X-Change-Sequence: " ]] || sed -i 1d "$answer"
  [ "$(head -c ${#JSON_HEADER} "$answer" | od -An -c)" = "$(printf %s "$JSON_HEADER" | od -An -c)" ] || fail "answer without the JSON header: $(head -c 80 "$answer")"
  tail -c +$((${#JSON_HEADER} + 1)) "$answer"
  rm -f "$answer"
}

# One web API request over FastCGI: script after /api/v1/, fcgi-client options.
api() { "$bin/fcgi-client" --param "SCRIPT_NAME=/api/v1/$1" --param REQUEST_METHOD=GET "${@:2}"; }

# Posts a set.cgi body; prints the answer's body.
set_body() { api set.cgi --body <(printf '%s' "$1") | body; }

# Fails unless all.cgi answers with every variable of the catalogue, in order.
expect_tree() {
  api all.cgi | body | PYTHONPATH=$root/gen python3 -c '
import json, sys
from model import Model
listed = [f"{memory} {name}" for memory, names in json.load(sys.stdin)["variables"].items() for name in names]
catalogue = [f"{v.area.name} {v.name}" for v in Model(sys.argv[1]).variables()]
assert listed == catalogue, set(listed) ^ set(catalogue)' "$root/gen/model" || fail "all.cgi $1"
}
