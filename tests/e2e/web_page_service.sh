# The page in headless Chromium against the real service: served by nginx as
# in the demo, with changes made from outside through the store tool (which
# posts their events through the broker) and the update stand-in playing the
# device's update processes, and a restart of the service. Screenshots land in <build>/page-test-service.
set -euo pipefail
build=$1
source "$(dirname "$0")/lib/stack.sh"
[ -f "$root/web/vendor/uPlot.iife.min.js" ] || fail "the page's chart library is missing: run scripts/install-deps"
start_page_stack
start_updater
export PAGE_TEST_GET="'$bin/store' get \"\$1.\$2\""
export PAGE_TEST_SET="'$bin/store' set \"\$1.\$2\" \"\$3\" >/dev/null"
# The app's folders on the device.
export PAGE_TEST_FILE='case $1 in lenstables) d=KPT;; focusrings) d=FOR;; setups) d=SETUPS;; esac; od -An -v -tx1 "/var/$d/$2"'
# The test asks for a restart through a pipe; this shell restarts the
# service the way it started it, as the device's unit would after a crash.
control=$SANDBOX_SCRATCH/restart
mkfifo "$control"
exec 8<>"$control"
export PAGE_TEST_RESTART="echo restart >'$control'"
timeout 400 node "$root/tests/web/browser-test.mjs" http://127.0.0.1:8080/ "$build/page-test-service" &
page_test=$!
while kill -0 "$page_test" 2>/dev/null; do
  read -r -t 1 -u 8 _ || continue
  kill "$service_pid"
  wait "$service_pid" || true
  start_service
done
wait "$page_test"
