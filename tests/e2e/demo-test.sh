#!/usr/bin/env bash
# scripts/demo on the existing build: it must show the stick's mount, the two threats on it and
# its scan summary, its removal, and the CD-ROM's mount, and end cleanly.
set -uo pipefail
root="$1"
out="$(DEMO_NO_BUILD=1 DEMO_KEEP_SERVER=1 timeout 100 "$root/scripts/demo" 2>&1)"
status=$?
echo "$out"
fail() {
    echo "FAIL: $*"
    exit 1
}
[ $status -eq 0 ] || fail "the demo exited with $status"
grep -qE '^    mounted [A-Z]:\\ type=local .*\[listener\]$' <<<"$out" || fail "no mount of the stick"
grep -qE '^    threat [A-Z]:\\eicar\.com EICAR-Test-File ' <<<"$out" || fail "no EICAR detection"
grep -qE '^    threat [A-Z]:\\data\\invoice\.pdf\.exe Demo\.Listed\.Sample sha256=[0-9a-f]{64}$' \
    <<<"$out" || fail "no detection of the listed file"
grep -qE '^    threat [A-Z]:\\mail\\attachment\.zip member=\["invoice/eicar\.com"\] EICAR-Test-File ' \
    <<<"$out" || fail "no EICAR detection inside the zip"
grep -qE '^    scan finished [A-Z]:\\ files=9 .*threats=3 .*archives=1 members=1 ' <<<"$out" ||
    fail "no scan summary of 9 files, 3 threats and one archive of one member"
grep -qE '^    mounted [A-Z]:\\ type=cdrom ' <<<"$out" || fail "no mount of the CD-ROM"
grep -qE '^    unmounted [A-Z]:\\ type=local .*\[listener\]$' <<<"$out" || fail "no removal of the stick"
grep -qF 'Device Mounted [path = ' <<<"$out" || fail "no mount in the log"
grep -qx 'stopped (quit)' <<<"$out" || fail "the host did not stop cleanly"
echo "demo: mount, the three threats (one in a zip), scan summary, removal and log shown"
