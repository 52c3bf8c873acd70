# The service keeps rendered value texts between requests; what it shows must
# still be what memory holds now. In rounds, random bytes land in the areas
# without an event, and the running service's all.cgi and update.cgi answers
# must equal, byte for byte, those of a service started fresh on the same
# memory (the change points' headers aside). Then texts that need escaping, and a push of two memories, are read
# back with a JSON parser.
set -euo pipefail
build=$1
source "$(dirname "$0")/lib/stack.sh"
stack_start
rounds=${ROUNDS:-5}
scratch=$SANDBOX_SCRATCH

# The areas as the model lays them out, read and written behind the
# service's back (no events):
# - mutate SEED: the same bytes for the same seed: the first round fills the
#   areas, later rounds rewrite random slices, put back slices of two rounds
#   before (bytes returning to a state already rendered once), or leave an
#   area as it is; then the log threshold goes to DebugMost, whose lines show
#   when a request is held, without an event a held request would answer.
# - events_of SEED COUNT: names of the change events of COUNT variables.
cat >"$scratch/areas.py" <<'PY'
import os, random, struct, sys
sys.path.insert(0, os.environ["GEN"])
from model import Model
model = Model(os.path.join(os.environ["GEN"], "model"))
HEADER = 4  # the size word before an area's payload
scratch = os.environ["SCRATCH"]

def debug_log_quietly():
    level = [v for v in model.variables() if v.area.name == "MemApp" and v.name == "AppServiceLogLevel"][0]
    with open("/dev/shm/MemApp", "r+b") as memory:
        memory.seek(HEADER + level.offset)
        memory.write(struct.pack("<i", level.enum.entries.index("DebugMost")))

def mutate(seed):
    seed = int(seed)
    rng = random.Random(seed)
    for area in model.areas:
        with open("/dev/shm/" + area.name, "r+b") as memory:
            memory.seek(HEADER)
            payload = bytearray(memory.read(area.size))
            older = os.path.join(scratch, "%s.%d" % (area.name, seed - 2))
            if seed == 1:
                payload[:] = rng.randbytes(area.size)
            elif rng.random() < 0.8:
                for _ in range(rng.randint(1, 20)):
                    start = rng.randrange(area.size)
                    end = min(area.size, start + rng.randint(1, 300))
                    if os.path.exists(older) and rng.random() < 0.3:
                        payload[start:end] = open(older, "rb").read()[start:end]
                    else:
                        payload[start:end] = rng.randbytes(end - start)
            with open(os.path.join(scratch, "%s.%d" % (area.name, seed)), "wb") as kept:
                kept.write(payload)
            memory.seek(HEADER)
            memory.write(payload)
    debug_log_quietly()

def events_of(seed, count):
    print(" ".join(model.events[v.event] for v in random.Random(int(seed)).sample(model.variables(), int(count))))

globals()[sys.argv[1]](*sys.argv[2:])
PY
areas() { GEN=$root/gen SCRATCH=$scratch python3 "$scratch/areas.py" "$@"; }

restart() {
  expect_clean_exit "$1"
  start_service
}

held_updates() { grep -ac 'handle(.*/api/v1/update.cgi' /dev/kmsg || true; }
held_beyond() { [ "$(held_updates)" -gt "$1" ]; }

# Holds an update.cgi request, runs the command once the service holds it
# (a change that finds nothing held is answered to nobody), and writes the
# answer's body into the given file.
update_around() {
  local answer=$1 before client
  shift
  before=$(held_updates)
  api update.cgi --request-id 2 | body >"$answer" &
  client=$!
  wait_until 200 held_beyond "$before" || fail "update.cgi was not held"
  "$@" >/dev/null
  wait "$client" || fail "no update.cgi answer after $*"
}

api all.cgi >/dev/null  # the first round, too, starts from rendered texts
for round in $(seq "$rounds"); do
  areas mutate "$round"
  api all.cgi --request-id 1 | body >"$scratch/all.running"
  restart "before the fresh all.cgi of round $round"
  api all.cgi --request-id 1 | body >"$scratch/all.fresh"
  cmp -s "$scratch/all.running" "$scratch/all.fresh" || fail "round $round: all.cgi differs from a fresh service's"

  areas mutate $((round + 1000))
  events=$(areas events_of "$round" 4)
  for event in $events; do update_around "$scratch/update.running.$event" "$bin/broker" --send "$event"; done
  restart "before the fresh update.cgi of round $round"
  for event in $events; do
    update_around "$scratch/update.fresh.$event" "$bin/broker" --send "$event"
    cmp -s "$scratch/update.running.$event" "$scratch/update.fresh.$event" ||
      fail "round $round: the update.cgi answer to $event differs from a fresh service's"
  done
  api all.cgi >/dev/null  # the next round starts from rendered texts
done

# A structure text with a backslash and a quote reaches all.cgi and update.cgi
# as exactly that text.
"$bin/store" create >/dev/null
areas debug_log_quietly
text='back\slash "quoted"'
printf '%s' "{\"MemCamera\": {\"Index\": 2, \"CamClipList0\": {\"CamClipName\": '$text'}}}" >"$scratch/set.text"
update_around "$scratch/update.text" api set.cgi --body "$scratch/set.text"
api all.cgi | body >"$scratch/all.text"
python3 - "$text" "$scratch/update.text" "$scratch/all.text" <<'PY' || fail "the structure text does not read back"
import json, sys
text, update, tree = sys.argv[1], json.load(open(sys.argv[2])), json.load(open(sys.argv[3]))
pushed = update["variables"]["MemCamera"]["CamClipList0"]
assert pushed[2]["CamClipName"]["value"] == text, pushed[2]
assert tree["variables"]["MemCamera"]["CamClipList0"][2]["CamClipName"]["value"] == text
PY

# Two memories changed in one push give one valid document. The two events
# may fall into two periodic steps; then the next attempt is taken.
"$bin/store" set MemMotors.FocusGearTeethSet 33 >/dev/null
"$bin/store" set MemDynamic.RadioRSSI -44 >/dev/null
for attempt in $(seq 20); do
  update_around "$scratch/update.two" "$bin/broker" --send VarFocusGearTeethSetChanged VarRadioRSSIChanged
  status=0
  python3 - "$scratch/update.two" <<'PY' || status=$?
import json, sys
variables = json.load(open(sys.argv[1]))["variables"]
if len(variables) == 1: sys.exit(3)
assert variables == {"MemMotors": {"FocusGearTeethSet": {"max": "255", "min": "0", "type": "int", "value": "33"}},
                     "MemDynamic": {"RadioRSSI": {"max": "0", "min": "-200", "type": "int", "value": "-44"}}}, variables
PY
  [ "$status" = 0 ] && break
  [ "$status" = 3 ] || fail "the update.cgi answer of two memories is not the expected document"
  [ "$attempt" -lt 20 ] || fail "no update.cgi answer carried both memories"
done
expect_alive "after the rounds"
