#!/usr/bin/env bash
# The host's one-off scan next to clamscan on the same trees and the same database, both times
# side by side: clamscan natively on Linux, devicescan-host --scan under Wine (the build's
# wine-run, the trees reached through Z:). Only that database is loaded by either scanner.
#
#   bench/clamscan-compare.sh [--quick] [BUILD_DIR]
#
# Trees, as in the scanner benchmarks of devicescan-bench:
#   large   files that all need hashing (their sizes are listed in the database)
#   small   20,000 small files whose sizes no signature has
# Database: a million SHA-256 signatures (sizes of 16 MiB and more) plus one per large file's
# size; --quick makes a smaller run of each. Each time includes the scanner's start and the
# loading of the database, which is also timed on its own over an empty folder.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
quick=0
if [ "${1:-}" = --quick ]; then
    quick=1
    shift
fi
build="$(cd "${1:-$root/build}" && pwd)"
. "$root/scripts/setup.sh"
ensure_test_tools
export WINEPREFIX="$build/wineprefix"
. "$root/scripts/wine-env.sh"
wine_prepare_prefix

signatures=1000000 small_files=20000 large_files=8 large_mib=64
[ $quick = 1 ] && signatures=20000 small_files=2000 large_files=2 large_mib=8

work="$(mktemp -d "${TMPDIR:-/var/tmp}/devicescan-clamscan.XXXXXX")"
own_server=0
finish() {
    local status=$?
    rm -rf "$work"
    [ $own_server = 0 ] || wine_stop_server
    return $status
}
trap finish EXIT
if ! wine_desktop_running; then
    own_server=1
    wine_start_server
fi

echo "== generating: $signatures signatures, $small_files small files," \
    "$large_files files of $large_mib MiB in $work"
python3 - "$work" "$signatures" "$small_files" "$large_files" "$large_mib" <<'PYTHON'
import os, random, sys
work, signatures, small_files, large_files, large_mib = sys.argv[1], *map(int, sys.argv[2:])
rng = random.Random(7)
os.makedirs(work + "/db")
os.makedirs(work + "/empty")
large_sizes = []
for i in range(large_files):
    size = (large_mib << 20) + i
    large_sizes.append(size)
    path = "%s/large/dir%d/file%d.bin" % (work, i % 2, i)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as out:
        block = rng.randbytes(1 << 20)
        for _ in range(large_mib):
            out.write(block)
        out.write(block[:i])
for i in range(small_files):
    path = "%s/small/d%02d/e%02d/f%05d.dat" % (work, i % 50, (i // 50) % 20, i)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as out:
        out.write(rng.randbytes(rng.randint(64, 8192)))
with open(work + "/db/million.hsb", "w") as out:
    for i in range(signatures):
        out.write("%064x:%d:Bench.Sig%d\n" % (rng.getrandbits(256), (16 << 20) + i, i))
with open(work + "/db/large.hsb", "w") as out:
    for size in large_sizes:
        out.write("%064x:%d:Bench.Large\n" % (rng.getrandbits(256), size))
PYTHON
cat -- "$work"/large/*/* "$work"/small/*/*/* >/dev/null  # both scanners read from the page cache

# timed LABEL COMMAND...: runs the command (exit 0 or 1 expected), prints its wall time.
timed() {
    local label="$1" start end status=0
    shift
    start=$(date +%s%N)
    "$@" >"$work/out" 2>"$work/err" || status=$?
    end=$(date +%s%N)
    if [ $status -gt 1 ]; then
        echo "$label: exit $status" >&2
        tail -n 5 "$work/err" >&2
        return 1
    fi
    LAST_MS=$(((end - start) / 1000000))
}

clamscan_run() { clamscan -d "$work/db" -r --no-summary --infected "$1"; }
host_run() {
    "$build/wine-run" "$build/bin/devicescan-host.exe" --scan "$(wine_path "$1")" \
        --db "$(wine_path "$work/db")"
}

printf '%-34s %12s %12s %8s\n' "tree" "clamscan ms" "ours ms" "ratio"
for tree in empty large small; do
    timed "clamscan $tree" clamscan_run "$work/$tree"
    theirs=$LAST_MS
    timed "devicescan-host $tree" host_run "$work/$tree"
    ours=$LAST_MS
    case $tree in
        empty) what="database load only" ;;
        large) what="$large_files x $large_mib MiB, all hashed" ;;
        small) what="$small_files small files, no size listed" ;;
    esac
    printf '%-34s %12d %12d %8.2f\n' "$what" "$theirs" "$ours" \
        "$(awk -v a="$ours" -v b="$theirs" 'BEGIN { print (b > 0 ? a / b : 0) }')"
done
echo "(ratio: ours / clamscan; both include start-up and the database load)"
