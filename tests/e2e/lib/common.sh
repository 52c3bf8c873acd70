# What every end-to-end script that runs processes needs, inside
# scripts/sandbox: checks, waits, nginx in front on port 8080, and the
# clean-up of everything started. Source it with the build folder in $build
# or as the script's first argument.
set -euo pipefail
# A command that ends the script through set -e says where, as fail does
# (in the script's own shell: a command substitution's failures are its caller's).
set -E
trap '[ "$BASHPID" != $$ ] || echo "FAIL: ${BASH_SOURCE[0]##*/} line $LINENO: status $? from: $BASH_COMMAND" >&2' ERR
build=${build:-$1}
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)
bin=$build/bin
work=$SANDBOX_SCRATCH
base=http://127.0.0.1:8080
# Everything started, stopped in reverse order when the script exits.
stack_pids=()
nginx_dir=$SANDBOX_SCRATCH/nginx
source "$(dirname "${BASH_SOURCE[0]}")/process.sh"

fail() { echo "FAIL: $*" >&2; exit 1; }
client() { "$bin/fcgi-client" "$@"; }

# Whatever ignores SIGTERM (a service held at a gate, say) is killed after
# a few seconds: a failing test must not hang until ctest's limit.
stack_stop() {
  [ -f "$nginx_dir/nginx.pid" ] && kill "$(cat "$nginx_dir/nginx.pid")" 2>/dev/null
  local index
  for ((index = ${#stack_pids[@]} - 1; index >= 0; index--)); do kill "${stack_pids[index]}" 2>/dev/null || true; done
  kill $(jobs -p) 2>/dev/null || true
  wait_until 100 jobs_ended || kill -KILL $(jobs -p) 2>/dev/null || true
  wait 2>/dev/null || true
}
jobs_ended() { [ -z "$(jobs -pr)" ]; }
trap stack_stop EXIT

# Retries a command every 50 ms, at most the given number of times.
wait_until() {
  local tries=$1 attempt
  shift
  for ((attempt = 0; attempt < tries; attempt++)); do
    "$@" 2>/dev/null && return 0
    sleep 0.05
  done
  return 1
}

port_open() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

# Succeeds once the service has read what its clients sent on at least the
# given number of connections, so that their update requests are held, not
# still on their way (which takes long under emulation).
requests_read() {
  [ "$(ss -Htni state established '( sport = :9000 )' | paste - - | awk '$1 == 0 && /bytes_received:[1-9]/' | wc -l)" -ge "$1" ]
}

# nginx as the device's front server on port 8080 (scripts/nginx-config).
start_nginx() {
  local conf
  conf=$("$root/scripts/nginx-config" "$nginx_dir" 8080)
  nginx -p "$nginx_dir" -e "$nginx_dir/error.log" -c "$conf" || fail "nginx did not start"
  wait_until 100 port_open 8080 || fail "nginx is not listening"
}

# The pid is read once: nginx removes its pid file before its last workers go.
stop_nginx() {
  local pid
  pid=$(cat "$nginx_dir/nginx.pid")
  kill "$pid"
  wait_until 100 bash -c "! kill -0 $pid" || fail "nginx did not stop"
}

# Fails unless the first argument equals the second, naming the check.
expect_eq() {
  [ "$1" = "$2" ] || fail "$3: expected [$2], got [$1]"
}

# Fails unless the server under test ($service_pid) is still running.
expect_alive() {
  kill -0 "$service_pid" 2>/dev/null || fail "the service ended: ${1:-}"
}
service_ended() { ! kill -0 "$service_pid" 2>/dev/null; }

# Sends SIGTERM to the service; fails unless it exits with status 0 within
# ten seconds.
expect_clean_exit() {
  local status=0
  kill -TERM "$service_pid"
  wait_until 200 service_ended || fail "the service did not end on SIGTERM $1"
  wait "$service_pid" || status=$?
  expect_eq "$status" 0 "exit status on SIGTERM $1"
}
