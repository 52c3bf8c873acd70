# Update uploads through nginx with curl -F: the file lands where the host's or
# an accessory's update process expects it, and the variables and their events
# (seen at the real broker) come in the documented order. Broken forms, a
# missing /update and a vanished broker get failure objects, and the service
# keeps serving.
source "$(dirname "$0")/lib/stack.sh"
stack_start
start_nginx
url=$base/zelapp/v1
events=$work/events.txt
start_watch "$events" VarHostUpdateFileNameChanged VarTlxUpdateStateChanged VarTlxUpdateProgressChanged \
  VarTlxUpdateFileNameChanged VarTlxUpdateDeviceSerialChanged VarTlxUpdateDeviceNameChanged CalibAllMotor
upload() { curl -sS -F "deviceid=$1" -F "file=@$2" "$url/device/update"; }
store_get() { "$bin/store" get "$1"; }
# The names of the events relayed since the last call, one a line.
new_events() {
  local marks
  marks=$(mark_events)
  awk -v marks="$marks" '$2 == "CalibAllMotor" {seen++; next} seen == marks {print $2}' "$events"
}

head -c 3000000 /dev/urandom >"$work/firmware"
printf 'lens firmware\r\n' >"$work/lens.cmf"

# Host: the device's own identity.
expect_eq "$(upload B1-1234 "$work/firmware")" '{"taskid": "B1-1234" }' "host upload"
cmp -s "$work/firmware" /update/host.swu || fail "host.swu differs from the upload"
expect_eq "$(store_get MemMedia.HostUpdateFileName)" /update/host.swu "HostUpdateFileName"
expect_eq "$(new_events)" VarHostUpdateFileNameChanged "host upload events"
# The same name again is announced all the same: cleared, then set.
upload B1-1234 "$work/lens.cmf" >/dev/null
cmp -s "$work/lens.cmf" /update/host.swu || fail "second host upload not in place"
expect_eq "$(new_events | tr '\n' ' ')" "VarHostUpdateFileNameChanged VarHostUpdateFileNameChanged " "second host upload events"

# Accessory: every variable in order, the file name always announced.
"$bin/store" set MemExternalDevices.TlxUpdateState FileCorrupt >/dev/null
"$bin/store" set MemExternalDevices.TlxUpdateProgress 50 >/dev/null
"$bin/store" set MemExternalDevices.TlxUpdateFileName /update/client.cmf >/dev/null
new_events >/dev/null
expect_eq "$(upload LENS-77 "$work/lens.cmf")" '{"taskid": "LENS-77" }' "accessory upload"
cmp -s "$work/lens.cmf" /update/client.cmf || fail "client.cmf differs from the upload"
expect_eq "$(new_events | tr '\n' ' ')" "VarTlxUpdateStateChanged VarTlxUpdateProgressChanged VarTlxUpdateFileNameChanged \
VarTlxUpdateFileNameChanged VarTlxUpdateDeviceSerialChanged VarTlxUpdateDeviceNameChanged " "accessory upload events"
expect_eq "$(store_get MemExternalDevices.TlxUpdateState)" NoFileSelected "TlxUpdateState"
expect_eq "$(store_get MemExternalDevices.TlxUpdateProgress)" 0 "TlxUpdateProgress"
expect_eq "$(store_get MemExternalDevices.TlxUpdateFileName)" /update/client.cmf "TlxUpdateFileName"
expect_eq "$(store_get MemExternalDevices.TlxUpdateDeviceSerial)" 77 "TlxUpdateDeviceSerial"
expect_eq "$(store_get MemExternalDevices.TlxUpdateDeviceName)" LENS "TlxUpdateDeviceName"
# Unchanged values are not announced again, the file name always is.
expect_eq "$(upload LENS-77 "$work/lens.cmf")" '{"taskid": "LENS-77" }' "second accessory upload"
expect_eq "$(new_events | tr '\n' ' ')" "VarTlxUpdateFileNameChanged VarTlxUpdateFileNameChanged " \
  "second accessory upload events"

# Refused forms move nothing and announce nothing.
cp /update/client.cmf "$work/client.before"
printf 'other' >"$work/other"
mandatory="{\"result\": \"'deviceid' and 'file' are mandatory, but at least one is missing.\" }"
device_serial="{\"result\": \"'deviceid' has to be in the form DEVICE-SERIAL.\" }"
expect_eq "$(upload LENS "$work/other")" "$device_serial" "deviceid without a dash"
expect_eq "$(curl -sS -F deviceid=LENS-77 "$url/device/update")" "$mandatory" "no file part"
expect_eq "$(curl -sS -F "file=@$work/other" "$url/device/update")" "$mandatory" "no deviceid part"
expect_eq "$(curl -sS --data-binary "@$work/other" "$url/device/update")" '{"result": "Invalid content type" }' "not a form"
head -c 61440 /dev/zero | tr '\0' x >"$work/60k"
fields=()
for index in $(seq 100); do fields+=(-F "field$index=<$work/60k"); done
expect_eq "$(curl -sS "${fields[@]}" -F deviceid=LENS-77 -F "file=@$work/other" "$url/device/update")" \
  '{"result": "The form has too many or too long fields." }' "a form of 100 fields"
cmp -s "$work/client.before" /update/client.cmf || fail "a refused upload replaced client.cmf"
expect_eq "$(new_events)" "" "events of refused uploads"

# Uploads have no limit of their own below nginx's 4 GB.
code=$(curl -sS -o /dev/null -w '%{http_code}' -H 'Content-Length: 5000000000' --data-binary "@$work/other" \
  "$url/device/update" || true)
expect_eq "$code" 413 "nginx status for an oversize body"

# No place to put the file.
mount -o remount,ro /update
expect_eq "$(upload LENS-77 "$work/other")" '{"result": "Could not store the update file" }' "read-only /update"
mount -o remount,rw /update

# The broker gone: the start flag and the upload's values stay written, the
# file is in place, the app is told, and the service stays.
"$bin/store" set MemExternalDevices.TlxUpdateStart false >/dev/null
"$bin/store" set MemExternalDevices.TlxUpdateState FileValid >/dev/null
kill "$broker_pid"
wait "$broker_pid" || true
expect_eq "$(curl -sS "$url/device/status")" '{"result": "Could not start the update" }' "status without broker"
expect_eq "$(store_get MemExternalDevices.TlxUpdateStart)" true "start flag without broker"
expect_eq "$(upload LENS-78 "$work/other")" '{"result": "Could not announce the update file" }' "upload without broker"
cmp -s "$work/other" /update/client.cmf || fail "the file was not moved before the announcement"
expect_eq "$(store_get MemExternalDevices.TlxUpdateState)" NoFileSelected "state written before the broker was missed"
expect_eq "$(curl -sS "$url/device/info" | head -c 1)" "{" "device info after the broker left"
expect_alive "after the broker left"
echo PASS
