# Uploads are written to disk as they arrive: a 64 MB image straight over
# FastCGI and through nginx lands byte for byte while the service's peak
# memory hardly grows; a full /update gives a clear failure and leaves the
# previous file, no partial one and no announcement; a client gone mid-upload
# leaves no file and no memory behind; after a service killed mid-upload and
# started again, /update is as it was.
source "$(dirname "$0")/lib/stack.sh"
stack_start
start_nginx
events=$work/events.txt
start_watch "$events" VarHostUpdateFileNameChanged VarTlxUpdateFileNameChanged CalibAllMotor
peak_kb() { awk '/^VmHWM/ {print $2}' "/proc/$service_pid/status"; }
leftovers() { find /update -name 'file-from-app.*' | wc -l; }
# An upload is written to an unnamed file in /update until it is complete.
writing() { ls -l "/proc/$service_pid/fd" | grep -q ' /update/'; }
not_writing() { ! writing; }

# The form around a file, for the direct upload.
form() {
  printf -- '--xyz\r\nContent-Disposition: form-data; name="deviceid"\r\n\r\n%s\r\n' "$1"
  printf -- '--xyz\r\nContent-Disposition: form-data; name="file"; filename="image"\r\n\r\n'
  cat "$2"
  printf -- '\r\n--xyz--\r\n'
}

head -c $((64 * 1024 * 1024)) /dev/urandom >"$work/image"
form B1-1234 "$work/image" >"$work/form"
peak_before=$(peak_kb)
expect_eq "$(app POST /device/update --param 'CONTENT_TYPE=multipart/form-data; boundary=xyz' --body "$work/form" --timeout 60 | body)" \
  '{"taskid": "B1-1234" }' "64 MB straight over FastCGI"
cmp -s "$work/image" /update/host.swu || fail "host.swu differs from the direct upload"
rm "$work/form"
expect_eq "$(curl -sS -F deviceid=LENS-7 -F "file=@$work/image" http://127.0.0.1:8080/zelapp/v1/device/update)" \
  '{"taskid": "LENS-7" }' "64 MB through nginx"
cmp -s "$work/image" /update/client.cmf || fail "client.cmf differs from the upload through nginx"
growth=$(($(peak_kb) - peak_before))
memory_unmeasured "$bin/webservice" || [ "$growth" -lt 16384 ] || fail "the service's peak memory grew by $growth kB for the uploads"
expect_eq "$(leftovers)" 0 "upload files left after complete uploads"

# A full file system: the previous host file stays, nothing else is left and
# nothing is announced.
rm /update/client.cmf
head -c 1000000 /dev/urandom >/update/host.swu
cp /update/host.swu "$work/host.before"
mount -o remount,size=8m /update
mark_events >/dev/null
announced=$(wc -l <"$events")
head -c $((16 * 1024 * 1024)) /dev/urandom >"$work/big"
expect_eq "$(curl -sS -F deviceid=B1-1234 -F "file=@$work/big" http://127.0.0.1:8080/zelapp/v1/device/update)" \
  '{"result": "Not enough space for the update file" }' "upload into a full /update"
cmp -s "$work/host.before" /update/host.swu || fail "a failed upload changed host.swu"
expect_eq "$(leftovers)" 0 "upload files left after a failed upload"
mark_events >/dev/null
expect_eq "$(wc -l <"$events")" $((announced + 1)) "events after a failed upload"
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
expect_alive "after the uploads"

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
kill -KILL "$service_pid" $children
kill "$client" 2>/dev/null || true
wait "$client" "$service_pid" || true
start_service
expect_eq "$(listing)" "$before" "/update after a kill in the middle of an upload"
[ ! -e /var/KPT/.incoming-left ] || fail "a named upload file in /var/KPT survived the start"
echo PASS
