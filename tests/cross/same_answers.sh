# The armhf build under emulation and the machine's own share the store: what
# one writes the other reads, and all.cgi answers the same bytes. (The rest of
# the suite runs under emulation as well.)
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
# The change point's token, drawn anew by each run, is left out.
all_cgi() { api all.cgi --request-id 5 | sed '1{/^X-Change-Sequence: /d}' >"$work/all.$1"; }
all_cgi armhf
expect_clean_exit "of the emulated service"
build=$native bin=$native/bin start_service
all_cgi native
cmp "$work/all.armhf" "$work/all.native" || fail "all.cgi differs"
expect_tree "from the native service"
echo "same_answers: $(wc -c <"$SANDBOX_SCRATCH/all.armhf") bytes of all.cgi alike"
