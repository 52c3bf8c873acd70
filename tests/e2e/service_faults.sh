# Broken and hostile clients beside a running load: clients that vanish in
# the middle of a record or a body, that half-close, that send 64 KB of
# garbage, and 1000 connections at once. The load's held requests must all
# get every change, its answers must stay well-formed (requests refused while
# the table is full are sent again), and afterwards the service serves as
# before and holds no more descriptors than at the start.
# A thousand connections at once need a thousand descriptors on each side.
ulimit -n 4096
source "$(dirname "$0")/lib/stack.sh"
stack_start
fds=$(settled_fd_count "$service_pid")
client() { "$bin/fcgi-client" "$@"; }

begin="01 01 00 01 00 08 00 00  00 01 00 00 00 00 00 00"
printf '%s\n01 04 00 01 01 00 00 00  0b 02 53 43\n' "$begin" >"$SANDBOX_SCRATCH/cut-record.hex"
{
  echo "$begin"
  echo "01 04 00 01 00 1c 04 00  0b 0f 53 43 52 49 50 54 5f 4e 41 4d 45 2f 61 70 69 2f 76 31 2f 73 65 74 2e 63 67 69 00 00 00 00"
  echo "01 04 00 01 00 00 00 00  01 05 00 01 00 10 00 00  7b 22 4d 65 6d 4c 65 6e"  # a body cut after 8 of 16 bytes
} >"$SANDBOX_SCRATCH/cut-body.hex"
head -c 65536 /dev/urandom >"$SANDBOX_SCRATCH/garbage"

faults() {
  client --hex "$SANDBOX_SCRATCH/cut-record.hex" --no-wait
  client --hex "$SANDBOX_SCRATCH/cut-body.hex" --no-wait
  client --hex "$SANDBOX_SCRATCH/cut-body.hex" --half-close --timeout 1 >/dev/null || true
  api all.cgi --half-close | body | python3 -c 'import json, sys; json.load(sys.stdin)' || fail "half-closed all.cgi"
  client --raw "$SANDBOX_SCRATCH/garbage" --timeout 1 >/dev/null || true
  client --raw "$SANDBOX_SCRATCH/garbage" --no-wait
}

"$bin/loadclient" --bin "$bin" --seconds 12 --updaters 4 --readers 1 >"$SANDBOX_SCRATCH/load.out" &
load=$!
for _ in 1 2 3; do faults; done
# Most of the thousand are refused while the table is full; the service must
# survive the burst and the load must lose nothing.
answered=$(api held-check --connections 1000 --timeout 30 || true)
echo "1000 connections: $answered answered"
settled_fd_count "$service_pid" >/dev/null  # the thousand are deleted at the next clean-up
faults
wait $load || fail "load beside the faults: $(cat "$SANDBOX_SCRATCH/load.out")"
echo "service_faults: $(cat "$SANDBOX_SCRATCH/load.out")"
expect_alive "after the faults"

expect_fds "$service_pid" "$fds"
expect_tree "after the faults"
expect_clean_exit "at the end"
