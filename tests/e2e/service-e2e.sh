#!/usr/bin/env bash
# The real devicescan.dll in the reference host, told about real drive letters of the build's
# Wine prefix (tmpfs volumes, plugged and unplugged by devicescan-volume, which broadcasts each
# arrival and removal). The host runs from a directory of its own with copies of the three
# shipped binaries, so it loads the module beside it and its log file (devicescan-host.log beside
# log.dll) belongs to this run. Every scenario uses letters no other test plugs; every wait is
# bounded. Usage: service-e2e.sh SCENARIO (VOLUMES_BUILD names the build). The tmpfs mounts need
# root; without it the scenario is skipped (exit 77).
set -euo pipefail
scenario="$1"
scripts="$(cd "$(dirname "$0")/../../scripts" && pwd)"
. "$scripts/wine-env.sh"
. "$scripts/volumes.sh"
build="$VOLUMES_BUILD"
if [ "$(id -u)" -ne 0 ]; then
    echo "skipped: the volumes are tmpfs mounts, which need root"
    exit 77
fi
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

cp "$build/bin/devicescan-host.exe" "$build/bin/devicescan.dll" "$build/bin/log.dll" "$work/"
log="$work/devicescan-host.log"

# Starts the host with a pipe for its standard input and waits for its "started" line.
host_start() {
    mkfifo "$work/in"
    timeout 230 "$build/wine-run" "$work/devicescan-host.exe" --json "$@" <"$work/in" \
        >"$work/out" 2>"$work/err" &
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
count() { grep -cF -- "$1" "$work/out" || true; }

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

# seen EVENT LETTER: waits for the listener's line of EVENT for LETTER and prints it.
seen() {
    wait_lines "$(event "$1" listener "$2")" 1 || fail "no $1 event for $2:"
    grep -F -- "$(event "$1" listener "$2")" "$work/out"
}

# json_field LINE NAME: a number or string field of one JSON line.
json_field() { sed -n "s/.*\"$2\":\"\\{0,1\\}\\([^,\"}]*\\).*/\\1/p" <<<"$1"; }

# volumes SIZE_MB FILES LETTER...: frees each letter (an earlier run may have been killed) and
# makes a tmpfs of SIZE_MB with FILES sample files (0: empty) for it, in DIRS[LETTER].
declare -A DIRS
volumes() {
    local size="$1" files="$2" letter
    shift 2
    for letter in "$@"; do
        volume_tool unplug "$letter" --no-broadcast >/dev/null 2>&1 || true
        volume_make "$size"
        [ "$VOLUME_IS_TMPFS" = 1 ] || fail "no tmpfs could be mounted"
        [ "$files" -eq 0 ] || volume_fill "$VOLUME_DIR" "$files"
        DIRS[$letter]="$VOLUME_DIR"
    done
}

# A stick with the sizes the kernel reports, scanned; an optical volume; a network letter.
scenario_drives() {
    volumes 16 3 H
    volumes 4 2 I J
    local block blocks available mounted
    read -r block blocks available < <(stat -f -c '%S %b %a' "${DIRS[H]}")
    local total=$((block * blocks)) stored=$((block * (blocks - available)))
    host_start
    volume_plug "${DIRS[H]}" removable H >/dev/null
    mounted="$(seen mounted H)"
    [ "$(json_field "$mounted" type)" = local ] || fail "H: is not local: $mounted"
    [ "$(json_field "$mounted" fullSize)" = "$total" ] || fail "fullSize is not $total: $mounted"
    [ "$(json_field "$mounted" storedSize)" = "$stored" ] || fail "storedSize is not $stored"
    [ "$(count "$(event mounted producer H)")" -eq 1 ] || fail "the producer was not told"
    # readme.txt and three files under data/.
    wait_lines '{"event":"scan","state":"finished","path":"H:\\","files":4,"directories":1' 1 ||
        fail "no scan summary of 4 files in 1 directory"
    volume_unplug H >/dev/null
    [ "$(json_field "$(seen unmounted H)" fullSize)" = "$total" ] || fail "the removal lost the size"

    volume_plug "${DIRS[I]}" cdrom I >/dev/null
    [ "$(json_field "$(seen mounted I)" type)" = cdrom ] || fail "I: is not mounted as cdrom"
    volume_unplug I >/dev/null
    [ "$(json_field "$(seen unmounted I)" type)" = cdrom ] || fail "I: is not removed as cdrom"

    # Under Wine the universal name of a network letter is the letter itself.
    volume_plug "${DIRS[J]}" network J >/dev/null
    mounted="$(seen mounted J)"
    [ "$(json_field "$mounted" type)" = remote ] || fail "J: is not remote: $mounted"
    grep -qF '"remote":"J:"' <<<"$mounted" || fail "the remote name is not J:"
    grep -F "$(event mounted producer J)" "$work/out" | grep -qF '"remote":"J:"' ||
        fail "the producer got another remote name"
    volume_unplug J >/dev/null
    grep -qF '"remote":""' <<<"$(seen unmounted J)" || fail "the stored record has a remote name"
    host_quit
    grep -qF 'Device Mounted [path = H:\]' "$log" || fail "the log has no mount line"
    echo "drives: stick of ${total} bytes (${stored} stored) scanned, cdrom, network J: as J:"
}

# A RAM disk and an empty stick are not announced, nor a second arrival of a mounted stick.
scenario_ignored() {
    volumes 4 2 K G
    volumes 4 0 L
    host_start
    volume_plug "${DIRS[K]}" ramdisk K >/dev/null
    volume_plug "${DIRS[L]}" removable L >/dev/null
    volume_plug "${DIRS[G]}" removable G >/dev/null
    seen mounted G >/dev/null
    volume_tool broadcast arrival G >/dev/null
    volume_unplug K >/dev/null
    volume_unplug L >/dev/null
    volume_unplug G >/dev/null
    seen unmounted G >/dev/null
    host_quit
    # The broadcasts are synchronous: the service had handled each before the tool returned.
    [ "$(count '"path":"K:\\"')$(count '"path":"L:\\"')" = 00 ] || fail "K: or L: was announced"
    grep -qF 'invalid drive type [path = K:\] [driveType = 6]' "$log" ||
        fail "the log does not say why K: was skipped"
    grep -qF 'disk info : drive is empty or no user-quota [path = L:\]' "$log" ||
        fail "the log does not say why L: was skipped"
    local source
    for source in listener producer; do
        [ "$(count "$(event mounted $source G)")" -eq 1 ] || fail "G: mounted twice to the $source"
    done
    grep -qF 'Device Already Mounted [path = G:\]' "$log" ||
        fail "the log does not note the second arrival"
    echo "ignored: RAM disk, empty stick and second arrival not announced, and the log says why"
}

# check_paired LETTER N: N mounts and N removals of LETTER to both the listener and the
# producer, alternating, mount first.
check_paired() {
    local source sequence expected
    expected="$(for ((i = 0; i < $2; i++)); do printf 'mounted unmounted '; done)"
    for source in listener producer; do
        sequence="$(grep -oF -e "$(event mounted $source "$1")" \
            -e "$(event unmounted $source "$1")" "$work/out" | cut -d'"' -f4 | tr '\n' ' ')"
        [ "$sequence" = "$expected" ] ||
            fail "$1: $source events are not $2 mount/removal pairs: $(wc -w <<<"$sequence")"
    done
}

# at_once ARGS1 ARGS2: two tools at once, one letter each (the module reads one letter per
# broadcast); fails when either fails.
at_once() {
    volume_tool $1 >/dev/null &
    local other=$!
    volume_tool $2 >/dev/null || fail "$2 failed (exit $?)"
    wait $other || fail "$1 failed (exit $?)"
}

# Two drives plugged and unplugged at the same moment, a hundred times.
scenario_cycles() {
    local cycles=100 i
    volumes 4 2 D K
    VOLUMES_PLUGGED+=(D K)
    host_start --no-scan
    for ((i = 0; i < cycles; i++)); do
        at_once "plug D removable ${DIRS[D]}" "plug K cdrom ${DIRS[K]}"
        at_once "unplug D" "unplug K"
    done
    wait_lines "$(event unmounted listener K)" $cycles || true
    wait_lines "$(event unmounted listener D)" $cycles || true
    host_quit
    check_paired D $cycles
    check_paired K $cycles
    echo "cycles: $cycles plug/unplug cycles of two drives at once, every mount paired"
}

# detections LETTER: the (path, name) pairs of the letter's detection events, one a line, sorted;
# paths as the JSON writes them (backslashes doubled).
detections() {
    grep -F "{\"event\":\"detection\",\"path\":\"$1:" "$work/out" |
        sed -n 's/.*"path":"\([^"]*\)","name":"\([^"]*\)".*/\1 \2/p' | sort
}

# finished LETTER: waits for the summary of the letter's scan and prints it.
finished() {
    local summary="{\"event\":\"scan\",\"state\":\"finished\",\"path\":\"$1:"
    wait_lines "$summary" 1 || fail "no scan summary for $1:"
    grep -F -- "$summary" "$work/out"
}

# A stick with threats and a clean stick, both plugged under a host given a folder of
# databases: detection events for exactly the threats, found by each hash type and by the
# built-in test file, and none for the near misses beside them or for the clean stick.
scenario_threats() {
    volumes 16 2 P
    volumes 4 3 Q
    local stick="${DIRS[P]}" databases="$work/databases"
    mkdir -p "$databases" "$stick/deep/down"
    volume_add_eicar "$stick/eicar.com"
    { cat "$stick/eicar.com" && printf '%60s' ''; } >"$stick/eicar-padded.com"
    { cat "$stick/eicar.com" && printf '%61s' ''; } >"$stick/too-long.com"
    { printf 'Note: ' && cat "$stick/eicar.com"; } >"$stick/quoted.txt"
    head -c 5000 /dev/urandom >"$stick/deep/down/dropper.exe"
    head -c 200000 /dev/urandom >"$stick/payload.bin"
    head -c 3000 /dev/urandom >"$stick/wrong-size.bin"
    printf '%s:5000:E2E.Md5.Dropper\n' "$(md5sum <"$stick/deep/down/dropper.exe" | cut -c1-32)" \
        >"$databases/e2e.hdb"
    {
        printf '%s:*:E2E.Sha256.Payload:73\n' "$(sha256sum <"$stick/payload.bin" | cut -c1-64)"
        printf '%s:3001:E2E.Sha1.WrongSize\n' "$(sha1sum <"$stick/wrong-size.bin" | cut -c1-40)"
    } >"$databases/e2e.hsb"
    host_start --db "$(wine_path "$databases")"
    volume_plug "$stick" removable P >/dev/null
    volume_plug "${DIRS[Q]}" removable Q >/dev/null
    finished P | grep -qF '"threats":4' || fail "the summary of P: does not count 4 threats"
    finished Q | grep -qF '"threats":0' || fail "the summary of Q: counts threats"
    volume_unplug P >/dev/null
    volume_unplug Q >/dev/null
    host_quit
    local expected
    expected="$(printf '%s\n' 'P:\\deep\\down\\dropper.exe E2E.Md5.Dropper' \
        'P:\\eicar-padded.com EICAR-Test-File' 'P:\\eicar.com EICAR-Test-File' \
        'P:\\payload.bin E2E.Sha256.Payload' | sort)"
    [ "$(detections P)" = "$expected" ] || fail "P: detections are not the planted ones:
$(detections P)"
    [ -z "$(detections Q)" ] || fail "the clean stick Q: has detections"
    echo "threats: the 4 planted threats of P: found (MD5, SHA-256, the test file twice), no near miss"
}

# archive_detections LETTER: the (path, member chain, name) of the letter's detections inside
# archives, one a line, sorted, as the JSON writes them.
archive_detections() {
    grep -F "{\"event\":\"detection\",\"path\":\"$1:" "$work/out" |
        sed -n 's/.*"path":"\([^"]*\)","member":\(\[[^]]*\]\),"name":"\([^"]*\)".*/\1 \2 \3/p' | sort
}

# A stick carrying archives: a listed file zipped inside a .tar.gz, the test file in a zip in a
# zip, a listed file gzip'd, a clean zip and a damaged one. The detections name each member
# chain, the summary counts the archives, members and the damage, and nothing else is reported.
scenario_archives() {
    volumes 16 1 T
    local stick="${DIRS[T]}"
    mkdir -p "$stick/mail" "$stick/backup"
    volume_add_eicar "$work/eicar.com"
    head -c 7000 /dev/urandom >"$work/listed.exe"
    printf '%s:7000:E2E.Archived.Listed\n' "$(sha256sum <"$work/listed.exe" | cut -c1-64)" \
        >"$work/archived.hsb"
    python3 - "$work" "$stick" <<'PYTHON' || fail "the archives could not be written"
import gzip, io, os, sys, tarfile, zipfile
work, stick = sys.argv[1:]
listed = open(os.path.join(work, "listed.exe"), "rb").read()
eicar = open(os.path.join(work, "eicar.com"), "rb").read()
def zipped(members):
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as archive:
        for name, content in members:
            archive.writestr(name, content)
    return out.getvalue()
tar = io.BytesIO()
with tarfile.open(fileobj=tar, mode="w:gz") as archive:
    inner = zipped([("tools/setup.exe", listed), ("readme.txt", b"nothing here")])
    info = tarfile.TarInfo("inner.zip")
    info.size = len(inner)
    archive.addfile(info, io.BytesIO(inner))
open(os.path.join(stick, "backup", "tools.tar.gz"), "wb").write(tar.getvalue())
open(os.path.join(stick, "mail", "nested.zip"), "wb").write(
    zipped([("attachment.zip", zipped([("eicar.com", eicar)]))]))
open(os.path.join(stick, "listed.exe.gz"), "wb").write(gzip.compress(listed))
open(os.path.join(stick, "clean.zip"), "wb").write(zipped([("a.txt", os.urandom(500))]))
damaged = zipped([("b.bin", os.urandom(5000))])
open(os.path.join(stick, "damaged.zip"), "wb").write(damaged[:len(damaged) // 2])
PYTHON
    host_start --db "$(wine_path "$work/archived.hsb")"
    volume_plug "$stick" removable T >/dev/null
    local summary
    summary="$(finished T)"
    volume_unplug T >/dev/null
    host_quit
    local expected
    expected="$(printf '%s\n' \
        'T:\\backup\\tools.tar.gz ["tools.tar","inner.zip","tools/setup.exe"] E2E.Archived.Listed' \
        'T:\\listed.exe.gz ["listed.exe"] E2E.Archived.Listed' \
        'T:\\mail\\nested.zip ["attachment.zip","eicar.com"] EICAR-Test-File' | sort)"
    [ "$(archive_detections T)" = "$expected" ] || fail "T: detections are not the planted ones:
$(archive_detections T)"
    [ "$(count '"event":"detection"')" -eq 3 ] || fail "T: has detections outside the archives"
    grep -qF '"threats":3' <<<"$summary" || fail "the summary does not count 3 threats: $summary"
    grep -qF '"damaged":1' <<<"$summary" || fail "the summary does not count the damage: $summary"
    echo "archives: the 3 planted members found through their chains, the damaged zip counted"
}

# A stick plugged under a host with --move: its three threats (the test file, a listed file, a
# zip holding the test file) end in the quarantine folder with the same bytes, the manifest lists
# them, every other file of the stick keeps its bytes, and one of them goes back by --restore,
# once.
scenario_quarantine() {
    volumes 16 3 S
    local stick="${DIRS[S]}" box="$work/quarantine"
    mkdir -p "$stick/tools/old" "$stick/mail"
    volume_add_eicar "$stick/eicar.com"
    head -c 9000 /dev/urandom >"$stick/tools/old/setup.exe"
    printf '%s:9000:E2E.Quarantine.Listed\n' "$(sha256sum <"$stick/tools/old/setup.exe" |
        cut -c1-64)" >"$work/listed.hsb"
    volume_add_eicar_zip "$stick/mail/attach.zip" invoice/eicar.com
    head -c 9001 /dev/urandom >"$stick/tools/near-miss.exe"
    local threats=(eicar.com tools/old/setup.exe mail/attach.zip)
    local before others
    before="$(cd "$stick" && sha256sum "${threats[@]}" | cut -c1-64 | sort)"
    others="$(cd "$stick" && find . -type f | grep -vxF -e ./eicar.com -e ./tools/old/setup.exe \
        -e ./mail/attach.zip | sort | xargs sha256sum)"
    host_start --db "$(wine_path "$work/listed.hsb")" --move "$(wine_path "$box")"
    volume_plug "$stick" removable S >/dev/null
    finished S >/dev/null
    [ "$(count '{"event":"quarantine","path":"S:')" -eq 3 ] || fail "not 3 files moved"
    [ "$(count '"event":"detection"' )" -eq "$(count '"quarantine":"Z:')" ] ||
        fail "a detection does not say where its file went"
    local threat
    for threat in "${threats[@]}"; do
        [ ! -e "$stick/$threat" ] || fail "$threat is still on the stick"
    done
    [ "$(cd "$stick" && find . -type f | sort | xargs sha256sum)" = "$others" ] ||
        fail "files besides the threats changed"
    [ "$(cat "$box"/*.quarantined | wc -c)" -gt 0 ] &&
        [ "$(sha256sum "$box"/*.quarantined | cut -c1-64 | sort)" = "$before" ] ||
        fail "the quarantine does not hold the threats' bytes"
    [ "$(grep -c '"record":"quarantined","id":"[^"]*","original":"S:' "$box/manifest.jsonl")" \
        -eq 3 ] || fail "the manifest does not list the 3 files: $(cat "$box/manifest.jsonl")"
    local id
    id="$(grep -F 'S:\\eicar.com' "$box/manifest.jsonl" | sed 's/.*"id":"\([^"]*\)".*/\1/')"
    "$build/wine-run" "$work/devicescan-host.exe" --restore "$id" --quarantine "$(wine_path "$box")" \
        >/dev/null || fail "the restore of $id failed"
    [ "$(sha256sum <"$stick/eicar.com" | cut -c1-64)" = "$(volume_add_eicar /dev/stdout |
        sha256sum | cut -c1-64)" ] || fail "the restored file is not the original"
    local status=0
    "$build/wine-run" "$work/devicescan-host.exe" --restore "$id" \
        --quarantine "$(wine_path "$box")" >/dev/null 2>&1 || status=$?
    [ $status -eq 2 ] || fail "a second restore of $id gave $status, not 2"
    volume_unplug S >/dev/null
    # A disc cannot give its files up: the test file is copied, the original stays, and a
    # warning says so.
    volumes 4 0 S
    volume_add_eicar "${DIRS[S]}/disc.com"
    volume_plug "${DIRS[S]}" cdrom S >/dev/null
    wait_lines '{"event":"warning","path":"S:\\disc.com","reason":"read-only-volume"}' 1 ||
        fail "no read-only-volume warning for the disc"
    [ -e "${DIRS[S]}/disc.com" ] || fail "the disc's file was deleted"
    grep -qF '"original":"S:\\disc.com"' "$box/manifest.jsonl" || fail "the disc's copy is not listed"
    volume_unplug S >/dev/null
    host_quit
    echo "quarantine: 3 threats moved whole into the folder and listed, the rest untouched, one" \
        "restored; a disc's threat copied with a warning"
}

# A stick whose scan hashes a large file (a sparse one: tmpfs keeps its holes for nothing). A
# broadcast removal while its letter still holds the volume is not believed: a warning, and the
# scan finishes. Plugged again, the real removal cancels the scan in the middle of the file.
scenario_removals() {
    local size=$((512 * 1024 * 1024)) line hashed total
    volumes 16 2 O
    truncate -s $size "${DIRS[O]}/data/large.bin"
    # A signature of any size makes every file worth hashing, and no size limit spares the
    # large one.
    printf '%064d:*:Test.Nothing\n' 0 >"$work/any.hsb"
    host_start --db "$(wine_path "$work/any.hsb")" --max-filesize 0
    volume_plug "${DIRS[O]}" removable O >/dev/null
    wait_lines '{"event":"scan","state":"started","path":"O:\\"' 1 || fail "O: was not scanned"
    volume_tool broadcast removal O >/dev/null
    wait_lines '{"event":"warning","path":"O:\\","reason":"removal-not-confirmed"}' 1 ||
        fail "the spoofed removal was not reported as unconfirmed"
    wait_lines '{"event":"scan","state":"finished","path":"O:\\"' 1 ||
        fail "the scan of O: did not finish after the spoofed removal"
    total="$(find "${DIRS[O]}" -type f -printf '%s\n' | awk '{ sum += $1 } END { print sum }')"
    grep -F '"state":"finished","path":"O:\\"' "$work/out" |
        grep -qF "\"hashedBytes\":$total" || fail "the scan of O: did not hash all $total bytes"
    # The service forgot O: at the broadcast: unplug without telling it, then plug again.
    volume_unplug O --no-broadcast >/dev/null
    volume_plug "${DIRS[O]}" removable O >/dev/null
    wait_lines '{"event":"scan","state":"started","path":"O:\\"' 2 || fail "O: was not scanned again"
    volume_unplug O >/dev/null
    wait_lines '{"event":"scan","state":"cancelled","path":"O:\\"' 1 ||
        fail "the real removal did not cancel the scan of O:"
    line="$(grep -F '"state":"cancelled","path":"O:\\"' "$work/out")"
    grep -qF '"reason":"unmounted"' <<<"$line" || fail "the cancel gives another reason: $line"
    hashed="$(json_field "$line" hashedBytes)"
    [ "$hashed" -lt $size ] || fail "the cancelled scan read the whole file: $line"
    host_quit
    echo "removals: a spoofed removal left the scan running; the real one cancelled it at $hashed bytes"
}

# Another program closes the service's window: the host notices, restarts the service, and a
# stick plugged afterwards is announced and scanned.
scenario_watch() {
    volumes 4 2 O
    host_start
    volume_tool close-service >/dev/null || fail "no service window to close"
    wait_lines '{"event":"warning","reason":"service-window-lost"' 1 ||
        fail "the host did not notice that the service window was closed"
    wait_lines '{"event":"restarted","reason":"service-window-lost"}' 1 ||
        fail "the host did not restart the service"
    volume_plug "${DIRS[O]}" removable O >/dev/null
    seen mounted O >/dev/null
    wait_lines '{"event":"scan","state":"finished","path":"O:\\"' 1 || fail "O: was not scanned"
    volume_unplug O >/dev/null
    host_quit
    echo "watch: closed service window noticed, service restarted, a later stick scanned"
}

# A stick plugged before the host starts is scanned with --scan-present.
scenario_present() {
    volumes 4 2 P
    volume_plug "${DIRS[P]}" removable P >/dev/null
    host_start --scan-present
    wait_lines '{"event":"present","path":"P:\\","type":"local"}' 1 ||
        fail "P: was not found present"
    wait_lines '{"event":"scan","state":"finished","path":"P:\\"' 1 || fail "P: was not scanned"
    [ "$(count '"event":"mounted","source":"listener","path":"P:')" -eq 0 ] ||
        fail "P: was announced although nothing was broadcast while the host ran"
    host_quit
    volume_unplug P >/dev/null
    echo "present: a stick plugged before the host started was scanned"
}

"scenario_$scenario"
