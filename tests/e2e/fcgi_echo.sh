# The FastCGI server alone, as the echo responder: driven by the FastCGI
# library's own command-line client, behind a real nginx, and by clients that
# send broken records, huge bodies, many connections or leave mid-record.
# Nothing ends it, nothing is left behind. (Kept upstream connections freed
# when nginx goes: service_load.sh.)
source "$(dirname "$0")/lib/common.sh"
# A thousand connections at once need a thousand descriptors on each side.
ulimit -n 4096 2>/dev/null || true
"$bin/fcgi-echo" &
service_pid=$!
stack_pids+=("$service_pid")
wait_until 100 port_open 9000 || fail "nothing listens on port 9000"

out=$(SCRIPT_NAME=/api/echo/params QUERY_STRING=a=b REQUEST_METHOD=GET cgi-fcgi -bind -connect 127.0.0.1:9000 </dev/null | tr -d '\r')
[[ $out == 'Content-type: text/plain'$'\n'*$'\nQUERY_STRING=a=b\n'* ]] || fail "cgi-fcgi: $out"

start_nginx
params=$(curl -sS "$base/api/echo/params?x=1&y=2")
[[ $params == *$'\nQUERY_STRING=x=1&y=2\n'* && $params == *$'\nSCRIPT_NAME=/api/echo/params\n'* ]] || fail "params: $params"
params=$(curl -sS "$base/zelapp/v1/echo/params")
[[ $params == *$'\nSCRIPT_NAME=/zelapp/v1\n'* && $params == *$'\nPATH_INFO=/echo/params\n'* ]] || fail "app params: $params"
head -c 10000000 /dev/urandom >"$work/body"
curl -sS --data-binary @"$work/body" "$base/api/echo/body" | cmp -s - "$work/body" || fail "10 MB body through nginx"

# A begin record (request 1, no keep) and a params record that announces
# 256 bytes but sends 4. The records refused at the door and overflowing
# lengths are covered by fcgi_test.cpp.
printf '01 01 00 01 00 08 00 00  00 01 00 00 00 00 00 00\n01 04 00 01 01 00 00 00  0b 02 53 43\n' >"$work/truncated.hex"
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
expect_eq "$(client --param SCRIPT_NAME=/x | wc -c)" 1058 "answer after the bad input"
echo PASS
