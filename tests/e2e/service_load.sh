# The real service under the load client for 10 s (LONG=1: 60 s and 24
# instead of 16 held clients, straight and through nginx): no change lost,
# no answer malformed, descriptors and memory back; then request bodies past
# their budget, and SIGTERM under load.
source "$(dirname "$0")/lib/stack.sh"
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
memory_unmeasured "$bin/webservice" || [ "$grown" -lt 2048 ] || fail "memory grew by $grown kB under load"
expect_alive "after the load"

# 24 clients each send a 12 MB set.cgi body slowly: bodies past the budget
# of all collected bodies are refused with 503 as they arrive, the rest are
# collected (and answered by set.cgi), and the service's peak memory stays
# near the budget.
start_nginx
head -c $((12 * 1024 * 1024)) /dev/zero >"$SANDBOX_SCRATCH/body"
rss=$(rss_kb "$service_pid")
clients=()
for index in $(seq 24); do
  curl -sS --max-time 60 --limit-rate 2M -o "$SANDBOX_SCRATCH/answer.$index" -w '%{http_code}\n' \
    --data-binary "@$SANDBOX_SCRATCH/body" http://127.0.0.1:8080/api/v1/set.cgi >"$SANDBOX_SCRATCH/code.$index" &
  clients+=($!)
done
wait "${clients[@]}" || fail "a body client failed"
codes=$(cat "$SANDBOX_SCRATCH"/code.* | sort | uniq -c | tr -s ' ' | tr '\n' ',')
echo "service_load (24 bodies of 12 MB): answers $codes"
[[ $codes == *" 503,"* && $codes == *" 200,"* ]] || fail "bodies not both collected and refused: $codes"
expect_eq "$(grep -lx '{"result": 0, "error": "Too many request bodies at once" }' "$SANDBOX_SCRATCH"/answer.* | wc -l)" \
  "$(cat "$SANDBOX_SCRATCH"/code.* | grep -cx 503)" "refusals with the failure object"
peak=$(peak_kb "$service_pid")
echo "service_load: peak memory $((peak - rss)) kB over the resident $rss kB"
memory_unmeasured "$bin/webservice" || [ $((peak - rss)) -lt 102400 ] || fail "peak memory grew by $((peak - rss)) kB"
expect_alive "after the bodies"
expect_tree "after the bodies"

load --until-shutdown --seconds 60 --updaters 8 --web-updaters 8 --web-port 8080 >"$work/load.out" &
shutdown_load=$!
wait_until 400 requests_read 16 || fail "the update clients are not held"
expect_clean_exit "under load"
wait $shutdown_load || fail "load at shutdown: $(cat "$work/load.out")"
