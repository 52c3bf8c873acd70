# The packaged systemd units: they verify against the packaged binary and
# manual page, and its exposure stays at most 3.0.
source "$(dirname "$0")/../e2e/lib/common.sh"
deb=$(echo "$build"/webservice_*.deb)
[ -f "$deb" ] || fail "no package in $build: scripts/package makes it"
unpacked=$SANDBOX_SCRATCH/unpacked
dpkg-deb -x "$deb" "$unpacked"
unit=$unpacked/lib/systemd/system/webservice.service

# The unit names /usr/sbin/webservice: lay the packaged one over this
# namespace's /usr/sbin.
mkdir -p "$SANDBOX_SCRATCH"/sbin/{upper,work}
mount -t overlay overlay -o "lowerdir=/usr/sbin,upperdir=$SANDBOX_SCRATCH/sbin/upper,workdir=$SANDBOX_SCRATCH/sbin/work" /usr/sbin
cp "$unpacked/usr/sbin/webservice" /usr/sbin/
MANPATH=$unpacked/usr/share/man systemd-analyze verify "$unit" "${unit%.service}.socket" >"$SANDBOX_SCRATCH/verify" 2>&1 ||
  fail "systemd-analyze verify: $(cat "$SANDBOX_SCRATCH/verify")"
[ -s "$SANDBOX_SCRATCH/verify" ] && fail "systemd-analyze verify warns: $(cat "$SANDBOX_SCRATCH/verify")"
systemd-analyze security --offline=true --threshold=30 "$unit" >"$SANDBOX_SCRATCH/security" ||
  fail "exposure over 3.0: $(tail -1 "$SANDBOX_SCRATCH/security")"
echo PASS
