# The app's device routes on the running service: the description of a
# prepared board byte for byte, the routing of
# unknown paths, and the status through whole runs of the update stand-in.
source "$(dirname "$0")/lib/stack.sh"
stack_start serial=5678 board=HX2
start_nginx
url=$base/zelapp/v1

# Device info: identity from the hardware block, texts from the store, the
# connected accessories in list order, the space of the root file system.
"$bin/store" set MemPersistent.ProductName 'Hand "Unit"' >/dev/null
"$bin/store" set MemPersistent.ProductVersion 3.1.4 >/dev/null
accessory() { "$bin/store" set MemExternalDevices.TlxDeviceList "$2" "$1" >/dev/null; }
for index in $(seq 0 15); do accessory "$index" '{"TlxDeviceConnected": false}'; done
accessory 4 '{"TlxDeviceConnected": true, "TlxSerNumber": 77, "TlxDeviceName": "LENS", "TlxMainSwVersion": "2.0.1"}'
accessory 9 '{"TlxDeviceConnected": true, "TlxSerNumber": 12, "TlxDeviceName": "ACC", "TlxMainSwVersion": "1"}'
expected() {
  local blocks free size
  read -r blocks free size < <(stat -f -c '%b %a %s' /)
  local total=$(((blocks * size) % 4294967296)) available=$(((free * size) % 4294967296))
  printf '{\r\n  "_id": "HX2-5678",\r\n  "name": "Hand \\"Unit\\"",\r\n  "serialnumber": "5678",\r\n'
  printf '  "firmwareversion": "3.1.4",\r\n  "space_total": %s,\r\n  "space_available": %s,\r\n' "$total" "$available"
  printf '  "devices": [\r\n    {\r\n      "_id": "LENS-77",\r\n      "name": "LENS",\r\n      "serialnumber": "77",\r\n'
  printf '      "firmwareversion": "2.0.1"\r\n    }, \r\n    {\r\n      "_id": "ACC-12",\r\n      "name": "ACC",\r\n'
  printf '      "serialnumber": "12",\r\n      "firmwareversion": "1"\r\n    }\r\n  ]\r\n}\r\n'
}
# The free space may move between the two reads: retry a few times.
same_as_expected() { cmp -s <(curl -sS "$url/device/info") <(expected); }
wait_until 20 same_as_expected || fail "device info: $(curl -sS "$url/device/info" | od -c | head -20)"

# Routing by prefix; anything else is an unknown request.
unknown='{"result": "Unknown request" }'
for path in /device/infos /devices/info /device /setups /setups/lists /lenstablesx/list '' /; do
  expect_eq "$(app GET "$path" | body)" "$unknown" "path '$path'"
done
expect_eq "$(curl -sS "$url/device/statusXYZ" | head -c 11)" '{"status": ' "status with a suffix"
expect_eq "$(curl -sS "$url/nothing")" "$unknown" "unknown path through nginx"

# The status through an update stand-in's whole run, polled like the app.
# Each state lasts half a second, so that a poll on a loaded machine sees it.
start_updater --step 500
# Polls until the status is `final` or 20 s pass; prints each new status.
follow() {
  local final=$1 last="" now
  for _ in $(seq 800); do
    now=$(curl -sS "$url/device/status")
    [ "$now" != "$last" ] && echo "$now" && last=$now
    [[ $now == *"\"$final\""* ]] && return 0
    sleep 0.025
  done
  return 1
}
statuses() { sed 's/.*"status": "\([A-Za-z]*\)".*/\1/' | uniq | tr '\n' ' '; }

printf 'accessory firmware' >"$work/lens.cmf"
curl -sS -F deviceid=LENS-77 -F "file=@$work/lens.cmf" "$url/device/update" >/dev/null
follow Success >"$work/run" || fail "accessory update did not finish: $(cat "$work/run")"
# The stand-in may have begun its check before the first poll.
expect_eq "$(statuses <"$work/run" | sed 's/^NoFileSelected //')" "CheckingFile FileValid InProgress Success " "accessory run"

printf 'CORRUPT accessory firmware' >"$work/bad.cmf"
curl -sS -F deviceid=LENS-77 -F "file=@$work/bad.cmf" "$url/device/update" >/dev/null
# Polled as corrupt, it must not have been started: a poll's answer comes
# after anything the poll writes.
follow FileCorrupt >"$work/run" || fail "corrupt file not reported: $(cat "$work/run")"
expect_eq "$("$bin/store" get MemExternalDevices.TlxUpdateStart)" false "start of a corrupt file"

head -c 100000 /dev/urandom >"$work/host.swu"
"$bin/store" set MemMedia.HostUpdateFileState NoFileSelected >/dev/null
curl -sS -F deviceid=HX2-5678 -F "file=@$work/host.swu" "$url/device/update" >/dev/null
follow Success >"$work/run" || fail "host update did not finish: $(cat "$work/run")"
expect_eq "$(statuses <"$work/run" | sed 's/^NoFileSelected //')" "CheckingFile Rebooting Success " "host run"
grep -qv '"progress": 0 ' "$work/run" && fail "host progress other than 0: $(cat "$work/run")"
# (A host upload of the last one's name announced again, and the host's
# update reported across a restart: app_upload.sh and zelapp_test.cpp.)
echo PASS
