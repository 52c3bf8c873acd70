# Following the variables with update.cgi?since=: the token of each answer
# resumes where the client left off, so a slow client loses no change, and a
# token the service did not give out in this run brings every variable.
source "$(dirname "$0")/lib/stack.sh"
stack_start
start_nginx
export STORE="$bin/store"

follow() {
  python3 - "$@" <<'PY'
import http.client, json, os, re, subprocess, sys, threading, time

WAIT = 30  # seconds: generous, a loaded machine is slow but never this slow


# An answer held although it had something to say fails by the timeout.
def get(path):
    connection = http.client.HTTPConnection("127.0.0.1", 8080, timeout=WAIT)
    connection.request("GET", path)
    response = connection.getresponse()
    body = response.read()
    token = response.getheader("X-Change-Sequence")
    assert response.status == 200 and token and re.fullmatch(r"[!-~]{1,64}", token), (path, token, body[:200])
    return token, body


def variables(body):
    """(memory, variable) -> description, from every block of an answer: a memory may open more than one."""
    answer = json.loads(body, object_pairs_hook=lambda pairs: pairs)
    return {(memory, name): d for key, value in answer if key == "variables" for memory, entries in value for name, d in entries}


def rssi(body):
    return dict(variables(body)[("MemDynamic", "RadioRSSI")])["value"]


def set_rssi(text):
    subprocess.run([os.environ["STORE"], "set", "MemDynamic.RadioRSSI", text], check=True, stdout=subprocess.DEVNULL)


case = sys.argv[1]
if case == "between":
    # A change between all.cgi and the update request that carries its token.
    token, _ = get("/api/v1/all.cgi")
    set_rssi("-33")
    newer, body = get(f"/api/v1/update.cgi?since={token}")
    assert newer != token and rssi(body) == "-33", body[:300]
    assert {name for memory, name in variables(body)} == {"RadioRSSI"}, "more than the change since the token"
elif case == "every":
    # Any token this run did not give out brings the whole catalogue at once:
    # the given ones, and one of this run's that no answer has carried yet.
    # A variable that several memories list comes once, under one of them.
    current, tree = get("/api/v1/all.cgi")
    catalogue = {name for memory, name in variables(tree)}
    nonce, point = current.rsplit("-", 1)
    for token in sys.argv[2:] + [f"{nonce}-{int(point) + 1000}"]:
        _, body = get(f"/api/v1/update.cgi?since={token}")
        assert {name for memory, name in variables(body)} == catalogue, token
elif case == "slow-follower":
    # A client that needs 300 ms before it asks again, against two quick
    # changes at a time: the second comes while it holds no request.
    token, _ = get("/api/v1/all.cgi")
    seen = {}
    def follower(since):
        while True:
            since, body = get(f"/api/v1/update.cgi?since={since}")
            seen["rssi"] = rssi(body)  # the only variable that changes
            time.sleep(0.3)
    threading.Thread(target=follower, args=(token,), daemon=True).start()
    for step in range(20):
        first, final = str(-2 * step - 100), str(-2 * step - 101)
        set_rssi(first)
        set_rssi(final)
        deadline = time.monotonic() + WAIT
        while seen.get("rssi") != final and time.monotonic() < deadline:
            time.sleep(0.05)
        assert seen.get("rssi") == final, f"change {step}: the follower holds {seen.get('rssi')}, not {final}"
PY
}

follow between || fail "a change between all.cgi and update.cgi?since= was not answered at once"
follow slow-follower || fail "a follower with a long round trip lost a final value"
earlier=$(curl -sS -D - -o /dev/null "$base/api/v1/all.cgi" | sed -n 's/^X-Change-Sequence: \([!-~]*\).*/\1/p')
expect_clean_exit "before the restart"
start_service
follow every "$earlier" garbage "" "${earlier%-*}-1" ||
  fail "a token this run did not give out did not bring every variable at once"
echo "service_update_since: all checks passed"
