#!/bin/bash
# The page in headless Chromium, served by nginx the way the demo serves it,
# against the mock service (which also plays the device's other processes, a
# restart of the service and a refused write). Screenshots land in
# <build>/page-test-output.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:?build folder}
work=$(mktemp -d)
pids=()
cleanup() {
  status=$?
  [ "$status" -eq 0 ] || cat "$work/nginx-error.log" "$work/mock.log" 2>/dev/null || true
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

if [ ! -d "$root/tests/web/node_modules/playwright-core" ]; then
  echo "playwright-core is missing: run scripts/install-deps" >&2
  exit 1
fi

mock_port=18090
page_port=18080
node "$root/tests/web/mock/service.mjs" "$mock_port" >"$work/mock.log" 2>&1 &
pids+=($!)

# Workers of a root master would otherwise run as nobody, who may not enter
# the checkout (a clone in a private temporary folder): every file of the page
# would be refused and each check would wait out its time.
user_line=""
[ "$(id -u)" = 0 ] && user_line="user root root;"
cat >"$work/nginx.conf" <<CONF
$user_line
daemon off;
worker_processes 1;
pid $work/nginx.pid;
error_log $work/nginx-error.log warn;
events {}
http {
  include /etc/nginx/mime.types;
  access_log off;
  client_body_temp_path $work/body;
  proxy_temp_path $work/proxy;
  fastcgi_temp_path $work/fastcgi;
  uwsgi_temp_path $work/uwsgi;
  scgi_temp_path $work/scgi;
  server {
    listen 127.0.0.1:$page_port;
    location / {
      root $root/web;
      index index.html;
      try_files \$uri \$uri/ =404;
      add_header Cache-Control no-cache;
    }
    location ~ ^/(api|zelapp)/ {
      proxy_pass http://127.0.0.1:$mock_port;
      proxy_buffering off;
      proxy_read_timeout 1h;
      client_max_body_size 512m;
    }
  }
}
CONF
nginx -c "$work/nginx.conf" -p "$work" &
pids+=($!)

page_served() {
  curl -sf "http://127.0.0.1:$page_port/api/v1/log.cgi" >/dev/null &&
    curl -sf "http://127.0.0.1:$page_port/js/main.js" >/dev/null
}
served=0
for _ in $(seq 600); do
  page_served && served=1 && break
  sleep 0.1
done
[ "$served" = 1 ] || { echo "FAIL: nginx does not serve the page and the mock service" >&2; exit 1; }

mock=http://127.0.0.1:$mock_port/mock
export PAGE_TEST_GET="curl -sf -G '$mock/get' --data-urlencode \"memory=\$1\" --data-urlencode \"variable=\$2\""
export PAGE_TEST_SET="curl -sf '$mock/set' --data-urlencode \"memory=\$1\" --data-urlencode \"variable=\$2\" --data-urlencode \"value=\$3\""
export PAGE_TEST_RESTART="curl -sf -X POST '$mock/restart?ms=2000'"
export PAGE_TEST_FAIL_NEXT_SET="curl -sf '$mock/fail-next-set' --data-urlencode \"error=\$1\""
export PAGE_TEST_FILE="curl -sf -G '$mock/file' --data-urlencode \"folder=\$1\" --data-urlencode \"name=\$2\""
timeout 400 node "$root/tests/web/browser-test.mjs" "http://127.0.0.1:$page_port/" "$build/page-test-output"
