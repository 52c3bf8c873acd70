# The FastCGI server alone, as the echo responder: for the end-to-end scripts
# that drive it. Sourced with the build folder as $build.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
work=$SANDBOX_SCRATCH
# A thousand connections at once need a thousand descriptors on each side.
ulimit -n 4096 2>/dev/null || true

start_echo() {
  "$bin/fcgi-echo" "$@" &
  service_pid=$!
  stack_pids+=("$service_pid")
  wait_until 100 port_open 9000 || fail "nothing listens on port 9000"
}
