# The real service under a bounded load for 10 s (LONG=1: 60 s and 24 instead
# of 16 held clients): held update requests that re-poll at once, straight
# and through nginx, all.cgi
# readers, and one change at a time from another process (store set, a
# broker event) or through set.cgi. No change made while a request was held
# may be lost for it, no answer may be malformed, and afterwards the service
# holds as many descriptors as before and no more memory than after a warm-up.
set -euo pipefail
build=$1
source "$(dirname "$0")/lib/stack.sh"
source "$(dirname "$0")/lib/process.sh"
if [ "${LONG:-}" = 1 ]; then seconds=60 held=12; else seconds=10 held=8; fi
stack_start

load() { "$bin/loadclient" --bin "$bin" "$@"; }

# The warm-up fills the allocator's caches, so the memory figure after the
# load can be compared with the one before it.
load --seconds 2 >/dev/null || fail "warm-up load failed"
fds=$(settled_fd_count "$service_pid")
rss=$(rss_kb "$service_pid")

start_nginx
# Up to 24 held clients, two readers and the change's own request stay below
# the service's 32 open requests, so none is refused.
summary=$(load --seconds "$seconds" --updaters $held --web-updaters $held --web-port 8080 --readers 2) ||
  fail "load: $summary"
echo "service_load ($seconds s): $summary"
case $summary in rounds\ 0,*) fail "no change went through: $summary" ;; esac
case $summary in *"refused 0,"*) ;; *) fail "requests were refused below the table's limit: $summary" ;; esac

# nginx keeps idle connections to the service; they go with it.
stop_nginx
expect_fds "$service_pid" "$fds"
grown=$(($(rss_kb "$service_pid") - rss))
sanitized "$bin/webservice" || [ "$grown" -lt 2048 ] || fail "memory grew by $grown kB under load"
expect_alive "after the load"

expect_clean_exit "at the end"
