# Update uploads through nginx and straight over FastCGI: where the file
# lands, written as it arrives, the variables and their events at the real
# broker in order, and every way an upload can fail.
source "$(dirname "$0")/lib/stack.sh"
stack_start
start_nginx
url=$base/zelapp/v1
events=$work/events.txt
start_watch "$events" VarHostUpdateFileNameChanged VarTlxUpdateStateChanged VarTlxUpdateProgressChanged \
  VarTlxUpdateFileNameChanged VarTlxUpdateDeviceSerialChanged VarTlxUpdateDeviceNameChanged CalibAllMotor
upload() { curl -sS -F "deviceid=$1" -F "file=@$2" "$url/device/update"; }
store_get() { "$bin/store" get "$1"; }
# The names of the events relayed since the last call, one a line: it posts
# CalibAllMotor, an event of no variable, and waits for it (the broker relays
# in order, so all before it are in).
marked_more() { [ "$(grep -c CalibAllMotor "$events")" -gt "$1" ]; }
new_events() {
  local marks
  marks=$(grep -c CalibAllMotor "$events" || true)
  "$bin/broker" --send CalibAllMotor
  wait_until 200 marked_more "$marks" || fail "the marker was not relayed"
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
expect_eq "$(for name in State Progress FileName DeviceSerial DeviceName; do store_get "MemExternalDevices.TlxUpdate$name"; done)" \
  $'NoFileSelected\n0\n/update/client.cmf\n77\nLENS' "the accessory's update variables"
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
mapfile -t fields < <(printf -- '-F\nfield%s=x\n' {1..20})
expect_eq "$(curl -sS "${fields[@]}" -F deviceid=LENS-77 -F "file=@$work/other" "$url/device/update")" \
  '{"result": "The form has too many or too long fields." }' "a form of 20 fields"
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

leftovers() { find /update -name 'file-from-app.*' | wc -l; }
# An upload is written to an unnamed file in /update until it is complete.
writing() { ls -l "/proc/$service_pid/fd" | grep -q ' /update/'; }
not_writing() { ! writing; }

# The form around a file, for uploads straight over FastCGI.
form() {
  printf -- '--xyz\r\nContent-Disposition: form-data; name="deviceid"\r\n\r\n%s\r\n' "$1"
  printf -- '--xyz\r\nContent-Disposition: form-data; name="file"; filename="image"\r\n\r\n'
  cat "$2"
  printf -- '\r\n--xyz--\r\n'
}

head -c $((64 * 1024 * 1024)) /dev/urandom >"$work/image"
form B1-1234 "$work/image" >"$work/form"
peak_before=$(peak_kb "$service_pid")
expect_eq "$(app POST /device/update --param 'CONTENT_TYPE=multipart/form-data; boundary=xyz' --body "$work/form" --timeout 60 | body)" \
  '{"taskid": "B1-1234" }' "64 MB straight over FastCGI"
cmp -s "$work/image" /update/host.swu || fail "host.swu differs from the direct upload"
rm "$work/form"
expect_eq "$(upload LENS-7 "$work/image")" '{"taskid": "LENS-7" }' "64 MB through nginx"
cmp -s "$work/image" /update/client.cmf || fail "client.cmf differs from the upload through nginx"
growth=$(($(peak_kb "$service_pid") - peak_before))
memory_unmeasured "$bin/webservice" || [ "$growth" -lt 16384 ] || fail "the service's peak memory grew by $growth kB for the uploads"
expect_eq "$(leftovers)" 0 "upload files left after complete uploads"

# A full file system: the previous host file stays, nothing else is left and
# nothing is announced.
rm /update/client.cmf
head -c 1000000 /dev/urandom | tee /update/host.swu >"$work/host.before"
mount -o remount,size=8m /update
new_events >/dev/null
head -c $((16 * 1024 * 1024)) /dev/urandom >"$work/big"
expect_eq "$(upload B1-1234 "$work/big")" '{"result": "Not enough space for the update file" }' "upload into a full /update"
cmp -s "$work/host.before" /update/host.swu || fail "a failed upload changed host.swu"
expect_eq "$(leftovers)" 0 "upload files left after a failed upload"
expect_eq "$(new_events)" "" "events after a failed upload"
mount -o remount,size=256m /update

# A client gone mid-upload: its body comes through a pipe that is never
# finished, and the client is ended once the service is writing the file.
rss_before=$(rss_kb "$service_pid")
start_cut_upload() {
  rm -f "$work/pipe"
  mkfifo "$work/pipe"
  exec 7<>"$work/pipe"
  "$bin/fcgi-client" --param SCRIPT_NAME=/zelapp/v1 --param PATH_INFO=/device/update --param REQUEST_METHOD=POST \
    --param 'CONTENT_TYPE=multipart/form-data; boundary=xyz' --body "$work/pipe" >/dev/null &
  client=$!
  { form B1-1234 /dev/null | head -c -11; head -c $((24 * 1024 * 1024)) /dev/urandom; } >&7
  wait_until 200 writing || fail "the upload file was not opened"
}
start_cut_upload
kill "$client"
wait "$client" || true
wait_until 200 not_writing || fail "an abandoned upload kept its file"
expect_eq "$(leftovers)" 0 "files left by an abandoned upload"
growth=$(($(rss_kb "$service_pid") - rss_before))
memory_unmeasured "$bin/webservice" || [ "$growth" -lt 4096 ] || fail "an abandoned upload kept $growth kB"

# Killed in the middle of an upload: nothing is left once it runs again, nor
# a named upload file as a file system without unnamed files would keep.
listing() { ls -la --time-style=+ /update; }
before=$(listing)
start_cut_upload
mkdir -p /var/KPT
touch /update/file-from-app.left /var/KPT/.incoming-left
# What it started (its kernel-log reader) would outlive it and hold this
# test's output open: ended with it.
descendants() { local child; for child in $(pgrep -P "$1"); do echo "$child"; descendants "$child"; done; }
children=$(descendants "$service_pid")
# Some may be gone before their turn (killed with the service and reaped).
kill -KILL "$service_pid" $children 2>/dev/null || true
kill "$client" 2>/dev/null || true
wait "$client" "$service_pid" || true
start_service
expect_eq "$(listing)" "$before" "/update after a kill in the middle of an upload"
[ ! -e /var/KPT/.incoming-left ] || fail "a named upload file in /var/KPT survived the start"

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
