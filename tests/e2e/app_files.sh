# Lens tables, focus rings and setups through the running service: listing,
# GET/PUT/DELETE round trips over FastCGI and through nginx, and every way a
# file name could reach outside the three folders refused with nothing touched.
source "$(dirname "$0")/lib/stack.sh"
stack_start
start_nginx
url=$base/zelapp/v1

put() { curl -sS -X PUT --data-binary "@$2" "$url$1"; }

# The folders do not exist yet.
expect_eq "$(app GET /lenstables/list | body)" "[]" "list of a missing folder"

# Round trip of arbitrary bytes, with the app's header.
head -c 100000 /dev/urandom >"$work/lens1.tab"
expect_eq "$(put /lenstables/file/lens1.tab "$work/lens1.tab")" '{"result": "Success" }' "PUT"
cmp -s "$work/lens1.tab" /var/KPT/lens1.tab || fail "stored lens table differs"
app GET /lenstables/file/lens1.tab | body | cmp -s - "$work/lens1.tab" || fail "fetched lens table differs"

# A replacement replaces the whole content; an empty body stores an empty file.
printf 'short' >"$work/short"
put /lenstables/file/lens1.tab "$work/short" >/dev/null
expect_eq "$(curl -sS "$url/lenstables/file/lens1.tab")" short "replaced content"
expect_eq "$(put /setups/file/empty.stp /dev/null)" '{"result": "Success" }' "PUT of an empty body"
app GET /setups/file/empty.stp | cmp -s - <(printf %s "$JSON_HEADER") || fail "GET of an empty file: not the header alone"

# Names are listed as valid JSON, one a line; folders and temporary files are not listed.
put '/focusrings/file/a%22b%5Cc.for' "$work/short" >/dev/null
mkdir /var/FOR/subfolder
touch /var/FOR/.incoming-left
put /focusrings/file/plain.for "$work/short" >/dev/null
listed=$(app GET /focusrings/list | body)
case "$listed" in  # in the folder's order
  $'[\r\n"a\\"b\\\\c.for",\r\n"plain.for"\r\n]' | $'[\r\n"plain.for",\r\n"a\\"b\\\\c.for"\r\n]') ;;
  *) fail "list of an escaped and a plain name: $listed" ;;
esac

# Missing files, DELETE, methods other than the three.
expect_eq "$(app DELETE /setups/file/missing.stp | body)" '{"result": "No such file" }' "DELETE of a missing file"
expect_eq "$(curl -sS -X DELETE "$url/setups/file/empty.stp")" '{"result": "Success" }' "DELETE"
expect_eq "$(app GET /setups/file/empty.stp | body)" '{"result": "No such file" }' "GET after DELETE"
expect_eq "$(app DELETE /lenstables/file | body)" '{"result": "No such file" }' "DELETE of the folder itself"
expect_eq "$(app POST /lenstables/file/x.tab --body "$work/short" | body)" '{"result": "Unknown request" }' "POST"
[ ! -e /var/KPT/x.tab ] || fail "POST wrote a file"
expect_eq "$(app GET /setups | body)" '{"result": "Unknown request" }' "/setups alone"

# A file that cannot be replaced keeps its old content.
mkdir /var/KPT/taken.tab
expect_eq "$(put /lenstables/file/taken.tab "$work/short")" '{"result": "Write error" }' "PUT over a folder"
[ -d /var/KPT/taken.tab ] || fail "the folder was replaced"

# Traversal: canaries outside the folders must stay as they are, and nothing
# new may appear anywhere but in the three folders.
echo canary >/var/canary
echo canary >/update/canary
snapshot() { find /var /update -path /var/KPT -prune -o -path /var/FOR -prune -o -path /var/SETUPS -prune -o -type f -print0 | sort -z | xargs -0 md5sum; }
before=$(snapshot)
# Straight over FastCGI a name arrives exactly as written: all of these are
# refused as unreachable files.
for name in ../canary ../../update/canary . .. '' /canary //update/canary sub/../x.tab ../KPT/x.tab; do
  expect_eq "$(app GET "/lenstables/file/$name" | body)" '{"result": "No such file" }' "GET of '$name'"
  expect_eq "$(app PUT "/lenstables/file/$name" --body "$work/short" | body)" $'{"result": "Open error" }\r' "PUT of '$name'"
  expect_eq "$(app DELETE "/setups/file/$name" | body)" '{"result": "No such file" }' "DELETE of '$name'"
done
# nginx decodes and merges the path itself before it passes it on; whatever
# arrives must stay inside the folders.
for name in ../canary ..%2Fcanary %2e%2e/canary %2e%2e%2fcanary %2E%2E%2F%2E%2E%2Fupdate%2Fcanary ..%00x \
            %2F..%2F..%2Fvar%2Fcanary ..%5Ccanary; do
  for method in GET PUT DELETE; do
    curl -sS --path-as-is -X "$method" --data-binary "@$work/short" -o /dev/null "$url/lenstables/file/$name"
  done
done
after=$(snapshot)
expect_eq "$after" "$before" "files outside the folders"
[ "$(cat /var/canary /update/canary)" = $'canary\ncanary' ] || fail "a canary changed"
echo PASS
