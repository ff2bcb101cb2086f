#!/usr/bin/env bash
# devicescan-volume through the helpers of scripts/volumes.sh: a volume is made, filled, plugged
# as every drive type, seen through its letter with the kernel's own figures, unplugged, and
# everything made is gone after the cleanup, also when the script using the helpers fails.
# Usage: volumes-test.sh tmpfs|plain (VOLUMES_BUILD names the build). The tmpfs run needs root;
# without it the run is skipped (exit 77).
set -euo pipefail
mode="$1"
scripts="$(cd "$(dirname "$0")/../../scripts" && pwd)"
. "$scripts/volumes.sh"
trap volumes_cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

if [ "$mode" = tmpfs ]; then
    if [ "$(id -u)" -ne 0 ]; then
        echo "skipped: mounting a tmpfs needs root"
        exit 77
    fi
    volume_make 16
    [ "$VOLUME_IS_TMPFS" = 1 ] || fail "the kernel refused to mount a tmpfs"
    mountpoint -q "$VOLUME_DIR" || fail "$VOLUME_DIR is not a mount point"
else
    volume_make
fi
dir="$VOLUME_DIR"
volume_fill "$dir" 5
[ -f "$dir/readme.txt" ] && [ -f "$dir/data/sample-5.bin" ] || fail "volume_fill wrote no files"

# What Wine reports is what the kernel reports: total blocks, and blocks available to users for
# both free figures.
read -r block blocks available < <(stat -f -c '%S %b %a' "$dir")
total=$((block * blocks))
free=$((block * available))
[ "$mode" = plain ] || [ $total -eq $((16 * 1024 * 1024)) ] || fail "the tmpfs holds $total bytes"

for type in removable:2 fixed:3 network:4 cdrom:5 ramdisk:6; do
    volume_plug "$dir" "${type%:*}" >/dev/null
    letter="$VOLUME_LETTER"
    [ "$(volume_target "$letter")" = "$dir" ] || fail "$letter: does not lead to $dir"
    status="$(volume_tool status "$letter")"
    grep -qx "type: ${type#*:} ${type%:*}" <<<"$status" || fail "$letter: is not $type: $status"
    grep -q "^space: caller [0-9]* total $total free [0-9]*$" <<<"$status" ||
        fail "total size is not $total: $status"
    [ "$mode" = plain ] || grep -qx "space: caller $free total $total free $free" <<<"$status" ||
        fail "free space is not $free: $status"
    # Other tests may plug the freed letter at once, but never over this directory.
    volume_unplug "$letter" >/dev/null
    [ "$(volume_target "$letter")" != "$dir" ] || fail "$letter: still leads to $dir after unplug"
done

# Bad requests change no letter: a relative path, the system's drive, a missing directory.
letters="$(ls "$VOLUMES_PREFIX/dosdevices")"
expect_refusal() {
    local expected="$1" status=0
    shift
    "$@" 2>/dev/null || status=$?
    [ $status -eq "$expected" ] || fail "$* exited with $status, not $expected"
}
expect_refusal 2 volume_tool plug Y removable tmp/relative
expect_refusal 2 volume_tool unplug C
expect_refusal 4 volume_plug /nonexistent/devicescan-volume removable
[ "$(ls "$VOLUMES_PREFIX/dosdevices")" = "$letters" ] || fail "a refused request changed a letter"

# A script that fails after plugging leaves nothing behind once its EXIT trap has run.
state="$(mktemp)"
VOLUMES_STATE="$state" bash -euc '
    . "$0/volumes.sh"
    trap volumes_cleanup EXIT
    volume_make 4
    volume_plug "$VOLUME_DIR" fixed >/dev/null
    echo "$VOLUME_DIR $VOLUME_LETTER" >"$VOLUMES_STATE"
    false
' "$scripts" && fail "the failing script succeeded"
read -r left_dir left_letter <"$state"
rm -f "$state"
[ -n "$left_letter" ] || fail "the failing script plugged nothing"
[ ! -e "$left_dir" ] || fail "$left_dir is left behind"
[ "$(volume_target "$left_letter")" != "$left_dir" ] || fail "$left_letter: is left plugged"
echo "volume helpers: $mode volume plugged as every type, measured, unplugged and cleaned up"
