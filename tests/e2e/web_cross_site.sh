# A foreign page in headless Chromium against the real service behind nginx,
# served as in the demo: its writes and uploads are refused and leave the
# store, the data folders and /update as they were.
set -euo pipefail
build=$1
source "$(dirname "$0")/lib/stack.sh"
start_page_stack
timeout 300 node "$root/tests/web/cross-site-test.mjs" http://127.0.0.1:8080/
[ ! -e /var/KPT/cross.tab ] || fail "the lens table was stored"
[ -z "$(ls -A /update)" ] || fail "an upload reached /update: $(ls /update)"
grep -q "Refused cross-site /api/v1/set.cgi from Origin 'http://127.0.0.1:" /dev/kmsg || fail "refusal not logged"
