# Following the variables with update.cgi?since=: the token of each answer
# resumes where the client left off, so a slow client loses no change, and a
# token the service did not give out in this run brings every variable.
source "$(dirname "$0")/lib/stack.sh"
stack_start
start_nginx
export STORE="$bin/store"

follow() {
  python3 - "$@" <<'PY'
import http.client, json, re, subprocess, sys, threading, time, os

store = os.environ["STORE"]
WAIT = 30  # seconds: generous, a loaded machine is slow but never this slow


def get(path):
    connection = http.client.HTTPConnection("127.0.0.1", 8080, timeout=WAIT)
    connection.request("GET", path)
    response = connection.getresponse()
    body = response.read()
    assert response.status == 200, (path, response.status, body[:200])
    token = response.getheader("X-Change-Sequence")
    assert token and re.fullmatch(r"[!-~]{1,64}", token), token
    return token, body


def variables(body):
    """(memory, variable) -> value description, from every block of an answer."""
    found = {}
    # A memory may open more than one block: keep the pairs, not a dict.
    for key, value in json.loads(body, object_pairs_hook=lambda pairs: pairs):
        if key == "variables":
            for memory, entries in value:
                for name, description in entries:
                    found[(memory, name)] = description
    return found


def value(description):
    return dict(description)["value"]


def set_value(name, text):
    subprocess.run([store, "set", name, text], check=True, stdout=subprocess.DEVNULL)


def answered_without_change(path):
    """The answer to a request that must come without any further change."""
    result = {}
    thread = threading.Thread(target=lambda: result.update(answer=get(path)), daemon=True)
    thread.start()
    thread.join(WAIT)
    assert "answer" in result, f"{path} was held although it had something to answer"
    return result["answer"]


case = sys.argv[1]
if case == "between":
    # A change between all.cgi and the update request that carries its token.
    token, _ = get("/api/v1/all.cgi")
    set_value("MemDynamic.RadioRSSI", "-33")
    newer, body = answered_without_change(f"/api/v1/update.cgi?since={token}")
    assert newer != token
    assert value(variables(body)[("MemDynamic", "RadioRSSI")]) == "-33", body[:300]
elif case == "every":
    # Any token this run did not give out brings the whole catalogue at once:
    # the given ones, and one of this run's that no answer has carried yet.
    # A variable that several memories list comes once, under one of them.
    current, tree = get("/api/v1/all.cgi")
    catalogue = {name for memory, name in variables(tree)}
    nonce, point = current.rsplit("-", 1)
    for token in sys.argv[2:] + [f"{nonce}-{int(point) + 1000}"]:
        _, body = answered_without_change(f"/api/v1/update.cgi?since={token}")
        assert {name for memory, name in variables(body)} == catalogue, token
elif case == "token":
    print(get("/api/v1/all.cgi")[0])
elif case == "slow-follower":
    # A client that needs 300 ms before it asks again, against two quick
    # changes at a time: the second comes while it holds no request.
    token, _ = get("/api/v1/all.cgi")
    seen = {}
    stop = threading.Event()
    def follower(since):
        while not stop.is_set():
            since, body = get(f"/api/v1/update.cgi?since={since}")
            for key, description in variables(body).items():
                seen[key] = value(description)
            time.sleep(0.3)
    threading.Thread(target=follower, args=(token,), daemon=True).start()
    key = ("MemDynamic", "RadioRSSI")
    for step in range(20):
        first, final = str(-2 * step - 100), str(-2 * step - 101)
        set_value("MemDynamic.RadioRSSI", first)
        set_value("MemDynamic.RadioRSSI", final)
        deadline = time.monotonic() + WAIT
        while seen.get(key) != final and time.monotonic() < deadline:
            time.sleep(0.05)
        assert seen.get(key) == final, f"change {step}: the follower holds {seen.get(key)}, not {final}"
    stop.set()
PY
}

follow between || fail "a change between all.cgi and update.cgi?since= was not answered at once"
follow slow-follower || fail "a follower with a long round trip lost a final value"
earlier=$(follow token)
kill -TERM "$service_pid"
wait "$service_pid" || fail "the service did not exit 0 on SIGTERM"
start_service
follow every "$earlier" garbage "" "${earlier%-*}-1" ||
  fail "a token this run did not give out did not bring every variable at once"
echo "service_update_since: all checks passed"
