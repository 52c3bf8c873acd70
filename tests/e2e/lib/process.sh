# Descriptor and memory counts of a running process, for the tests that check
# that nothing is left behind. Sourced by common.sh, which defines fail.
fd_count() { ls "/proc/$1/fd" | wc -l; }
rss_kb() { awk '/^VmRSS/ {print $2}' "/proc/$1/status"; }
peak_kb() { awk '/^VmHWM/ {print $2}' "/proc/$1/status"; }

# Resident sizes mean nothing under the address sanitizer (it holds freed
# memory back; its leak check covers that build) or the armhf emulator.
# (Not `ldd | grep -q`: grep quitting early can fail ldd, and so the pipe.)
memory_unmeasured() { [ -n "${SANDBOX_ARM_EMULATOR:-}" ] || [[ $(ldd "$1") == *libasan* ]]; }

# The count once it stays the same for half a second (at most ten seconds):
# closed connections are deleted only at the loop's next clean-up.
settled_fd_count() {
  local count previous=-1 same=0 round
  for ((round = 0; round < 50 && same < 3; round++)); do
    count=$(fd_count "$1")
    if [ "$count" = "$previous" ]; then same=$((same + 1)); else same=0; fi
    previous=$count
    sleep 0.2
  done
  echo "$count"
}

# Fewer than the baseline is no leak: on a loaded machine the baseline can
# still hold a connection a client was closing.
fds_at_most() { [ "$(fd_count "$1")" -le "$2" ]; }
expect_fds() {
  wait_until 100 fds_at_most "$1" "$2" && return 0
  ls -l "/proc/$1/fd" >&2
  fail "$(fd_count "$1") descriptors open, expected at most $2"
}
