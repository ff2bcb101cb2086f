#!/usr/bin/env bash
# The real devicescan.dll in the reference host, told about real drive letters of the build's
# Wine prefix (tmpfs volumes, plugged and unplugged by devicescan-volume, which broadcasts each
# arrival and removal). The host runs from a directory of its own with copies of the three
# shipped binaries, so its log file (devicescan-host.log beside log.dll) belongs to this run.
# Every scenario uses letters no other test plugs; every wait is bounded.
# Usage: service-e2e.sh SCENARIO (VOLUMES_BUILD names the build). Scenarios with volumes need
# root for the tmpfs mounts; without it they are skipped (exit 77).
set -euo pipefail
scenario="$1"
scripts="$(cd "$(dirname "$0")/../../scripts" && pwd)"
. "$scripts/volumes.sh"
build="$VOLUMES_BUILD"
work="$(mktemp -d "${TMPDIR:-/tmp}/devicescan-e2e.XXXXXX")"
host_pid=""

cleanup() {
    local status=$?
    exec 3>&- 2>/dev/null || true
    if [ -n "$host_pid" ] && kill -0 "$host_pid" 2>/dev/null; then
        kill "$host_pid" 2>/dev/null || true
        wait "$host_pid" 2>/dev/null || true
    fi
    volumes_cleanup || true
    rm -rf "$work"
    return $status
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    if [ -f "$work/out" ]; then
        echo "--- host output" >&2
        tail -n 40 "$work/out" >&2
        echo "--- host errors" >&2
        tail -n 20 "$work/err" >&2
    fi
    exit 1
}

needs_root() {
    if [ "$(id -u)" -ne 0 ]; then
        echo "skipped: the volumes are tmpfs mounts, which need root"
        exit 77
    fi
}

# A private copy of what we ship: host, module and logger side by side.
cp "$build/bin/devicescan-host.exe" "$build/bin/devicescan.dll" "$build/bin/log.dll" "$work/"
host="$work/devicescan-host.exe"
log="$work/devicescan-host.log"

# Starts the host with a pipe for its standard input and waits for its "started" line.
host_start() {
    mkfifo "$work/in"
    timeout 230 "$build/wine-run" "$host" --json "$@" <"$work/in" >"$work/out" 2>"$work/err" &
    host_pid=$!
    exec 3>"$work/in"
    wait_lines '"event":"started"' 1 || fail "the host did not start"
}

# Asks the host to quit and checks that it stopped cleanly.
host_quit() {
    echo quit >&3
    exec 3>&-
    local status=0
    wait "$host_pid" || status=$?
    host_pid=""
    [ $status -eq 0 ] || fail "the host exited with $status"
    tail -n 1 "$work/out" | grep -qF '{"event":"stopped","reason":"quit"}' ||
        fail "the host's last line is not its stop"
}

# count PATTERN: how many output lines hold the fixed string.
count() { grep -cF -- "$1" "$work/out" 2>/dev/null || true; }

# wait_lines PATTERN N: waits up to 20 s until N output lines hold the fixed string.
wait_lines() {
    local tries=400
    until [ "$(count "$1")" -ge "$2" ]; do
        tries=$((tries - 1))
        [ $tries -gt 0 ] || return 1
        sleep 0.05
    done
}

# event EVENT SOURCE LETTER: the start of a device line, as the host writes it in JSON.
event() { printf '{"event":"%s","source":"%s","path":"%s:\\\\"' "$1" "$2" "$3"; }

# The lines of EVENT told to the listener about LETTER.
listener_lines() { grep -F -- "$(event "$1" listener "$2")" "$work/out" || true; }

# json_field LINE NAME: a number or string field of one JSON line.
json_field() { sed -n "s/.*\"$2\":\"\\{0,1\\}\\([^,\"}]*\\).*/\\1/p" <<<"$1"; }

# Frees a letter left behind by an earlier run of this scenario that was killed.
reclaim() {
    local letter
    for letter in "$@"; do
        volume_tool unplug "$letter" --no-broadcast >/dev/null 2>&1 || true
    done
}

# make_volume SIZE_MB FILES: a tmpfs in VOLUME_DIR with FILES sample files (0: left empty).
make_volume() {
    volume_make "$1"
    [ "$VOLUME_IS_TMPFS" = 1 ] || fail "no tmpfs could be mounted"
    [ "$2" -eq 0 ] || volume_fill "$VOLUME_DIR" "$2"
}

scenario_stick() {
    local letter=H
    needs_root
    reclaim $letter
    make_volume 16 3
    local dir="$VOLUME_DIR" block blocks available
    read -r block blocks available < <(stat -f -c '%S %b %a' "$dir")
    local total=$((block * blocks)) stored=$((block * (blocks - available)))
    host_start
    volume_plug "$dir" removable $letter >/dev/null
    wait_lines "$(event mounted listener $letter)" 1 || fail "no mount of $letter:"
    local mounted
    mounted="$(listener_lines mounted $letter)"
    [ "$(json_field "$mounted" type)" = local ] || fail "$letter: is not local: $mounted"
    [ "$(json_field "$mounted" fullSize)" = "$total" ] || fail "fullSize is not $total: $mounted"
    [ "$(json_field "$mounted" storedSize)" = "$stored" ] ||
        fail "storedSize is not $stored: $mounted"
    [ "$(count "$(event mounted producer $letter)")" -eq 1 ] || fail "the producer was not told"
    # readme.txt and three files under data/.
    local scanned="{\"event\":\"scan\",\"state\":\"finished\",\"path\":\"$letter:\\\\\",\"files\":4,\"directories\":1"
    wait_lines "$scanned" 1 || fail "no scan summary of 4 files in 1 directory"
    volume_unplug $letter >/dev/null
    wait_lines "$(event unmounted listener $letter)" 1 || fail "no removal of $letter:"
    local unmounted
    unmounted="$(listener_lines unmounted $letter)"
    [ "$(json_field "$unmounted" fullSize)" = "$total" ] || fail "the removal lost the size"
    host_quit
    grep -qF "Device Mounted [path = $letter:\\]" "$log" || fail "the log has no mount line"
    echo "stick: mounted with ${total} bytes (${stored} stored), 4 files scanned, removed"
}

scenario_cdrom() {
    local letter=I
    needs_root
    reclaim $letter
    make_volume 4 2
    host_start
    volume_plug "$VOLUME_DIR" cdrom $letter >/dev/null
    wait_lines "$(event mounted listener $letter)" 1 || fail "no mount of $letter:"
    [ "$(json_field "$(listener_lines mounted $letter)" type)" = cdrom ] ||
        fail "$letter: is not announced as cdrom"
    volume_unplug $letter >/dev/null
    wait_lines "$(event unmounted listener $letter)" 1 || fail "no removal of $letter:"
    [ "$(json_field "$(listener_lines unmounted $letter)" type)" = cdrom ] ||
        fail "$letter: is not removed as cdrom"
    host_quit
    echo "cdrom: announced and removed as cdrom"
}

scenario_network() {
    local letter=J
    needs_root
    reclaim $letter
    make_volume 4 2
    host_start
    volume_plug "$VOLUME_DIR" network $letter >/dev/null
    wait_lines "$(event mounted listener $letter)" 1 || fail "no mount of $letter:"
    local mounted
    mounted="$(listener_lines mounted $letter)"
    [ "$(json_field "$mounted" type)" = remote ] || fail "$letter: is not remote: $mounted"
    grep -qF "\"remote\":\"$letter:\"" <<<"$mounted" || fail "the remote name is not $letter:"
    grep -qF "\"remote\":\"$letter:\"" <<<"$(grep -F "$(event mounted producer $letter)" "$work/out")" ||
        fail "the producer got another remote name"
    volume_unplug $letter >/dev/null
    wait_lines "$(event unmounted listener $letter)" 1 || fail "no removal of $letter:"
    grep -qF '"remote":""' <<<"$(listener_lines unmounted $letter)" ||
        fail "the removal record has a remote name"
    host_quit
    echo "network: mounted with remote $letter:, removed with an empty remote"
}

scenario_skipped() {
    local ram=K empty=L
    needs_root
    reclaim $ram $empty
    make_volume 4 2
    local ram_dir="$VOLUME_DIR"
    make_volume 4 0
    local empty_dir="$VOLUME_DIR"
    host_start
    volume_plug "$ram_dir" ramdisk $ram >/dev/null
    volume_plug "$empty_dir" removable $empty >/dev/null
    volume_unplug $ram >/dev/null
    volume_unplug $empty >/dev/null
    host_quit
    # The broadcasts are synchronous: the service has handled both before the tool returned.
    local letter
    for letter in $ram $empty; do
        [ "$(count "\"path\":\"$letter:\\\\\"")" -eq 0 ] || fail "$letter: was announced"
    done
    grep -qF "invalid drive type [path = $ram:\\] [driveType = 6]" "$log" ||
        fail "the log does not say why $ram: was skipped"
    grep -qF "disk info : drive is empty or no user-quota [path = $empty:\\]" "$log" ||
        fail "the log does not say why $empty: was skipped"
    echo "skipped: the RAM disk and the empty stick were not announced, and the log says why"
}

scenario_twice() {
    local letter=G
    needs_root
    reclaim $letter
    make_volume 4 2
    host_start
    volume_plug "$VOLUME_DIR" removable $letter >/dev/null
    wait_lines "$(event mounted listener $letter)" 1 || fail "no mount of $letter:"
    # The same stick arrives again while it is mounted.
    volume_tool broadcast arrival $letter >/dev/null
    volume_unplug $letter >/dev/null
    wait_lines "$(event unmounted listener $letter)" 1 || fail "no removal of $letter:"
    host_quit
    [ "$(count "$(event mounted listener $letter)")" -eq 1 ] || fail "mounted more than once"
    [ "$(count "$(event mounted producer $letter)")" -eq 1 ] || fail "produced more than once"
    [ "$(count "$(event unmounted listener $letter)")" -eq 1 ] || fail "removed more than once"
    grep -qF "Device Already Mounted [path = $letter:\\]" "$log" ||
        fail "the log does not note the second arrival"
    echo "twice: the second arrival was logged and not announced"
}

# check_paired LETTER N: N mounts and N removals of LETTER, alternating, mount first.
check_paired() {
    local sequence expected
    sequence="$(grep -oF -e "$(event mounted listener "$1")" -e "$(event unmounted listener "$1")" \
        "$work/out" | cut -d'"' -f4 | tr '\n' ' ')"
    expected="$(for ((i = 0; i < $2; i++)); do printf 'mounted unmounted '; done)"
    [ "$sequence" = "$expected" ] ||
        fail "$1: events are not $2 mount/removal pairs: $(wc -w <<<"$sequence") events"
}

scenario_cycles() {
    local letter=F cycles=50 i
    needs_root
    reclaim $letter
    make_volume 4 2
    host_start --no-scan
    for ((i = 0; i < cycles; i++)); do
        volume_plug "$VOLUME_DIR" removable $letter >/dev/null
        volume_unplug $letter >/dev/null
    done
    wait_lines "$(event unmounted listener $letter)" $cycles || true
    host_quit
    check_paired $letter $cycles
    [ "$(count "$(event unmounted producer $letter)")" -eq $cycles ] ||
        fail "the producer missed removals"
    echo "cycles: $cycles plug/unplug cycles, every mount paired with one removal"
}

# together EVENT LETTER LETTER: both broadcasts at once; fails when either tool fails.
together() {
    volume_tool broadcast "$1" "$2" >/dev/null &
    local other=$!
    volume_tool broadcast "$1" "$3" >/dev/null || fail "broadcast $1 $3 failed"
    wait $other || fail "broadcast $1 $2 failed"
}

# Two drives defined once, then told to arrive and leave at the same moment: two tools broadcast
# at once, one letter each (a broadcast naming several letters stands for its lowest one only).
scenario_pairs() {
    local first=D second=K cycles=100 i
    needs_root
    reclaim $first $second
    make_volume 4 2
    volume_plug "$VOLUME_DIR" removable $first --no-broadcast >/dev/null
    make_volume 4 2
    volume_plug "$VOLUME_DIR" cdrom $second --no-broadcast >/dev/null
    host_start --no-scan
    for ((i = 0; i < cycles; i++)); do
        together arrival $first $second
        together removal $first $second
    done
    wait_lines "$(event unmounted listener $second)" $cycles || true
    host_quit
    check_paired $first $cycles
    check_paired $second $cycles
    echo "pairs: $cycles arrivals and removals of two drives at once, every event paired"
}

# The host's failures with the shipped binaries, and a clean run with no volume at all.
scenario_errors() {
    local status
    expect_exit() {
        local expected="$1"
        shift
        status=0
        timeout 60 "$build/wine-run" "$host" --no-stdin --seconds 1 "$@" \
            </dev/null >"$work/out" 2>"$work/err" || status=$?
        [ $status -eq "$expected" ] || fail "$* exited with $status, not $expected"
    }
    expect_exit 3 --module "$work/missing.dll"
    grep -q "devicescan-host:" "$work/err" || fail "no reason given for a missing module"
    echo "not a library" >"$work/text.dll"
    expect_exit 3 --module "$work/text.dll"
    expect_exit 4 --module "$work/log.dll"
    expect_exit 2 --no-such-option
    expect_exit 0 --json
    grep -qF '{"event":"stopped","reason":"timeout"}' "$work/out" || fail "no timeout stop"
    grep -qF 'DeviceScanSP::Init' "$log" || fail "the module wrote no log beside log.dll"
    echo "errors: missing (3), not a library (3), no exports (4), bad option (2), clean run (0)"
}

"scenario_$scenario"
