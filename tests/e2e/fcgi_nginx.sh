# The FastCGI server behind a real nginx with kept upstream connections,
# driven by curl.
build=$1
source "$(dirname "$0")/lib/fcgi.bash"
start_echo
idle_fds=$(settled_fd_count "$service_pid")
start_nginx
url=http://127.0.0.1:8080

curl -sS -D "$work/headers" -o "$work/answer" "$url/api/v1/all.cgi"
expect_eq "$(wc -c <"$work/answer")" 1024 "fixed answer size"
grep -qi '^Content-type: application/json' "$work/headers" || fail "default header missing"

params=$(curl -sS "$url/api/echo/params?x=1&y=2")
grep -qx 'QUERY_STRING=x=1&y=2' <<<"$params" || fail "query string: $params"
grep -qx 'SCRIPT_NAME=/api/echo/params' <<<"$params" || fail "script name: $params"

params=$(curl -sS "$url/zelapp/v1/echo/params")
grep -qx 'SCRIPT_NAME=/zelapp/v1' <<<"$params" || fail "app script name: $params"
grep -qx 'PATH_INFO=/echo/params' <<<"$params" || fail "app path: $params"

head -c 10000000 /dev/urandom >"$work/body"
curl -sS --data-binary @"$work/body" "$url/api/echo/body" -o "$work/echoed"
cmp -s "$work/body" "$work/echoed" || fail "10 MB body not echoed intact"

# Many requests over the kept upstream connections leave nothing behind.
curl -sS -o /dev/null "$url/api/v1/all.cgi"
fds=$(settled_fd_count "$service_pid")
urls=()
for i in $(seq 500); do urls+=(-o /dev/null "$url/api/v1/all.cgi?$i"); done
codes=$(curl -sS -w '%{http_code}\n' "${urls[@]}" | sort | uniq -c | awk '{print $1" "$2}')
expect_eq "$codes" "500 200" "status codes of 500 requests"
expect_fds "$service_pid" "$fds"

# nginx going away closes the kept connections; the server frees them.
stop_nginx
expect_fds "$service_pid" "$idle_fds"
expect_alive
echo PASS
