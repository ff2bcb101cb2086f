#!/usr/bin/env bash
# The sample-volume helpers of scripts/volumes.sh with the real tool: a volume is made, filled,
# plugged, seen through its letter with the kernel's own figures, unplugged, and everything made
# is gone after the cleanup, also when the script using the helpers fails half-way.
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
    if [ "$VOLUME_IS_TMPFS" != 1 ]; then
        echo "skipped: the kernel refused to mount a tmpfs"
        exit 77
    fi
    mountpoint -q "$VOLUME_DIR" || fail "$VOLUME_DIR is not a mount point"
else
    volume_make
fi
dir="$VOLUME_DIR"
volume_fill "$dir" 5
[ -f "$dir/readme.txt" ] && [ -f "$dir/data/sample-5.bin" ] || fail "volume_fill wrote no files"

volume_plug "$dir" removable
letter="$VOLUME_LETTER"
[ "$(volume_target "$letter")" = "$dir" ] || fail "$letter: does not lead to $dir"
status="$(volume_tool status "$letter")"
echo "$status"
grep -qx "type: 2 removable" <<<"$status" || fail "$letter: is not a removable drive"

# What Wine reports is what the kernel reports: total blocks, and blocks available to users for
# both free figures.
read -r block blocks available < <(stat -f -c '%S %b %a' "$dir")
total=$((block * blocks))
grep -q "^space: caller [0-9]* total $total free [0-9]*$" <<<"$status" ||
    fail "total size is not $total"
if [ "$mode" = tmpfs ]; then
    [ $total -eq $((16 * 1024 * 1024)) ] || fail "the tmpfs holds $total bytes, not 16 MiB"
    free=$((block * available))
    grep -qx "space: caller $free total $total free $free" <<<"$status" ||
        fail "free space is not $free"
fi

# Other tests may plug the freed letter at once, but never over this directory.
volume_unplug "$letter"
[ "$(volume_target "$letter")" != "$dir" ] || fail "$letter: still leads to $dir after volume_unplug"

# A script that fails after plugging leaves nothing behind once its EXIT trap has run.
state="$(mktemp)"
VOLUMES_STATE="$state" bash -euc '
    . "$0/volumes.sh"
    trap volumes_cleanup EXIT
    volume_make 4
    volume_plug "$VOLUME_DIR" fixed >/dev/null
    echo "$VOLUME_DIR $VOLUME_LETTER" >"$VOLUMES_STATE"
    false
    echo "not reached"
' "$scripts" && fail "the failing script succeeded"
read -r left_dir left_letter <"$state"
rm -f "$state"
[ -n "$left_letter" ] || fail "the failing script plugged nothing"
[ ! -e "$left_dir" ] || fail "$left_dir is left behind"
[ "$(volume_target "$left_letter")" != "$left_dir" ] || fail "$left_letter: is left plugged"
echo "volume helpers: $mode volume made, plugged, measured, unplugged and cleaned up"
