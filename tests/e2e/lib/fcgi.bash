# Helpers for the end-to-end scripts that drive the FastCGI server. Sourced
# with the build folder as $build; runs inside scripts/sandbox, so port 9000
# and the nginx port are private to the script.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)
bin=$build/bin
work=$(mktemp -d "${SANDBOX_SCRATCH:-/tmp}/e2e.XXXXXX")
pids=()
# A thousand connections at once need a thousand descriptors on each side.
ulimit -n 4096 2>/dev/null || true

stop_all() {
  [ -f "$work/nginx/nginx.pid" ] && kill "$(cat "$work/nginx/nginx.pid")" 2>/dev/null || true
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap stop_all EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# Waits until something accepts connections on a local port.
wait_for_port() {
  for _ in $(seq 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0
    sleep 0.05
  done
  fail "nothing listens on port $1"
}

start_echo() {
  "$bin/fcgi-echo" "$@" &
  echo_pid=$!
  pids+=("$echo_pid")
  wait_for_port 9000
}

start_nginx() {
  local conf
  conf=$("$root/scripts/nginx-config" "$work/nginx" "$1")
  nginx -p "$work/nginx" -e "$work/nginx/error.log" -c "$conf"
  wait_for_port "$1"
}

source "$(dirname "${BASH_SOURCE[0]}")/process.sh"

expect_alive() { kill -0 "$echo_pid" 2>/dev/null || fail "the server ended"; }

expect_eq() {
  [ "$1" == "$2" ] || fail "$3: got '$1', expected '$2'"
}
