# The armhf build under emulation serves the store as the machine's own build
# does: over the same shared memory, written and read by programs of both
# builds, set.cgi works and all.cgi answers the same bytes, but for the change
# point's token, which each run of the service draws anew. (The rest of the
# suite runs under emulation as well.)
native=$2
source "$(dirname "$0")/../e2e/lib/stack.sh"
[ -x "$native/bin/webservice" ] || fail "no build of the machine's own in $native (scripts/build makes it)"
stack_start

# set.cgi: what the emulated service writes, the native store tool reads.
expect_eq "$(set_body '{"MemMotors": {"FocusGearTeethSet": 12}}')" '{"result": 1 }' "set.cgi"
expect_eq "$("$native/bin/store" get MemMotors.FocusGearTeethSet)" 12 "value written under emulation, read natively"
expect_eq "$(set_body '{"MemCamera": {"Index": 499, "CamClipList0": {"CamClipName": "A499"}}}')" '{"result": 1 }' \
  "set.cgi of the last list element"
"$native/bin/store" get MemCamera.CamClipList0 499 | python3 -c 'import json, sys; assert json.load(sys.stdin)["CamClipName"]["value"] == "A499"' ||
  fail "list element read natively"

# all.cgi: the emulated service, then the native one, over the same areas.
api all.cgi --request-id 5 >"$SANDBOX_SCRATCH/all.armhf"
expect_clean_exit "of the emulated service"
build=$native bin=$native/bin start_service
api all.cgi --request-id 5 >"$SANDBOX_SCRATCH/all.native"
python3 - "$SANDBOX_SCRATCH/all.armhf" "$SANDBOX_SCRATCH/all.native" <<'PY' || fail "all.cgi differs"
import re, sys
# The change point's token is drawn anew by each run of the service.
token = re.compile(rb'\AX-Change-Sequence: [!-~]+\r\n')
armhf, native = (token.sub(b'', open(path, 'rb').read(), count=1) for path in sys.argv[1:])
if armhf != native:
    at = next((i for i, (a, b) in enumerate(zip(armhf, native)) if a != b), min(len(armhf), len(native)))
    sys.exit(f"first difference at byte {at}: {armhf[max(at - 40, 0):at + 40]!r} against {native[max(at - 40, 0):at + 40]!r}")
PY
expect_tree "from the native service"
echo "same_answers: $(wc -c <"$SANDBOX_SCRATCH/all.armhf") bytes of all.cgi alike"
