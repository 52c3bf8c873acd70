# The FastCGI server driven by the FastCGI library's own command-line client.
build=$1
source "$(dirname "$0")/lib/fcgi.bash"
start_echo

export SCRIPT_NAME=/api/echo/params QUERY_STRING=a=b REQUEST_METHOD=GET
out=$(cgi-fcgi -bind -connect 127.0.0.1:9000 </dev/null | tr -d '\r')
grep -qx 'Content-type: text/plain' <<<"$out" || fail "header: $out"
grep -qx 'QUERY_STRING=a=b' <<<"$out" || fail "params: $out"

head -c 300000 /dev/urandom >"$work/body"
SCRIPT_NAME=/api/echo/body REQUEST_METHOD=POST CONTENT_LENGTH=300000 \
  cgi-fcgi -bind -connect 127.0.0.1:9000 <"$work/body" >"$work/answer"
tail -c +43 "$work/answer" | cmp -s - "$work/body" || fail "body not echoed intact"

SCRIPT_NAME=/api/v1/all.cgi cgi-fcgi -bind -connect 127.0.0.1:9000 </dev/null >"$work/fixed"
expect_eq "$(wc -c <"$work/fixed")" $((34 + 1024)) "fixed answer with default header"
expect_alive
echo PASS
