# Clients that send broken records, huge bodies, many connections or leave
# mid-record never end the server and leave no descriptor or memory behind.
build=$1
source "$(dirname "$0")/lib/fcgi.bash"
start_echo
client() { "$bin/fcgi-client" "$@"; }

# Hex of a begin record (request 1, no keep) and of a params record that
# announces 256 bytes but sends 4. The records refused at the door and
# overflowing lengths are covered by fcgi_test.cpp.
cat >"$work/truncated.hex" <<HEX
01 01 00 01 00 08 00 00  00 01 00 00 00 00 00 00
01 04 00 01 01 00 00 00  0b 02 53 43
HEX
head -c 10000000 /dev/urandom >"$work/body"

round() {
  client --hex "$work/truncated.hex" --timeout 1 >/dev/null || true
  client --hex "$work/truncated.hex" --half-close >/dev/null || true
  client --hex "$work/truncated.hex" --no-wait
  client --param SCRIPT_NAME=/api/echo/body --body "$work/body" | tail -c +43 | cmp -s - "$work/body" ||
    fail "10 MB body not echoed intact"
  expect_eq "$(client --param SCRIPT_NAME=/x --connections 1000)" 1000/1000 "1000 connections at once"
  expect_eq "$(client --param SCRIPT_NAME=/x --repeat 50 --keep-conn | wc -c)" $((50 * 1058)) "kept connection"
}

round
fds=$(fd_count "$service_pid")
rss=$(rss_kb "$service_pid")
for _ in 1 2 3; do round; done
expect_fds "$service_pid" "$fds"
grown=$(($(rss_kb "$service_pid") - rss))
memory_unmeasured "$bin/fcgi-echo" || [ "$grown" -lt 4096 ] || fail "memory grew by $grown kB over three rounds"
expect_alive
expect_eq "$(client --param SCRIPT_NAME=/x | wc -c)" 1058 "answer after the bad input"
echo PASS
