# Descriptor and memory counts of a running process, for the tests that check
# that nothing is left behind. Sourced by common.sh, which defines fail.
fd_count() { ls "/proc/$1/fd" | wc -l; }
rss_kb() { awk '/^VmRSS/ {print $2}' "/proc/$1/status"; }

# Resident sizes say nothing of our own memory where the address sanitizer
# holds freed memory back (its leak check at every exit covers that build) or
# where the emulator's own pages are counted (the armhf runs): those runs
# leave the figures to the native one.
# (Not `ldd | grep -q`: grep quitting early can fail ldd, and so the pipe.)
memory_unmeasured() { [ -n "${SANDBOX_ARM_EMULATOR:-}" ] || [[ $(ldd "$1") == *libasan* ]]; }

# The count once it stays the same for half a second: closed connections are
# deleted only at the loop's next clean-up.
settled_fd_count() {
  local count previous=-1 same=0
  while [ "$same" -lt 3 ]; do
    count=$(fd_count "$1")
    if [ "$count" = "$previous" ]; then same=$((same + 1)); else same=0; fi
    previous=$count
    sleep 0.2
  done
  echo "$count"
}

# Closed connections are deleted at the next clean-up of the loop, so give
# freed descriptors a moment. Fewer than the baseline is no leak: on a loaded
# machine the baseline can still hold a connection a client was closing.
expect_fds() {
  local pid=$1 expected=$2
  for _ in $(seq 50); do
    [ "$(fd_count "$pid")" -le "$expected" ] && return 0
    sleep 0.1
  done
  ls -l "/proc/$pid/fd" >&2
  fail "$(fd_count "$pid") descriptors open, expected at most $expected"
}
