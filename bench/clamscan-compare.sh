#!/usr/bin/env bash
# The host's one-off scan next to clamscan on the same trees and the same database, both times
# side by side: clamscan natively on Linux, devicescan-host --scan under Wine (the build's
# wine-run, the trees reached through Z:). Only that database is loaded by either scanner.
#
#   bench/clamscan-compare.sh [--quick] [BUILD_DIR]
#
# Trees, as in the scanner benchmarks of devicescan-bench (ScanEngine, ScanArchives):
#   large   files that all need hashing (their sizes are listed in the database)
#   small   20,000 small files whose sizes no signature has
#   zips    2,000 small zips of three deflated members each, none of a listed size
#   bigzip  one zip of 8 deflated members of 64 MiB of text each, their size listed (with a
#           digest none has), so that each is inflated and hashed; it is past both scanners'
#           default max-filesize and max-scansize, which are raised to 2000M for it alone
# Database: a million SHA-256 signatures (sizes of 16 MiB and more) plus one per large file's
# size and one for the big zip's members; --quick makes a smaller run of each. Each time
# includes the scanner's start and the loading of the database, which is also timed on its
# own over an empty folder.
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

signatures=1000000 small_files=20000 large_files=8 large_mib=64 zips=2000 members=8 member_mib=64
if [ $quick = 1 ]; then
    signatures=20000 small_files=2000 large_files=2 large_mib=8 zips=200 members=2 member_mib=8
fi

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
    "$large_files files of $large_mib MiB, $zips small zips, a zip of $members x $member_mib MiB" \
    "in $work"
python3 - "$work" "$signatures" "$small_files" "$large_files" "$large_mib" "$zips" "$members" \
    "$member_mib" <<'PYTHON'
import os, random, struct, sys, zlib
work, signatures, small_files, large_files, large_mib, zips, members, member_mib = (
    sys.argv[1], *map(int, sys.argv[2:]))
rng = random.Random(7)

# Text that deflates about as prose does: words of a fixed vocabulary in a random order, a
# mebibyte of it repeated (deflate looks back 32 KiB only).
vocabulary = ["".join(chr(97 + rng.randrange(26)) for _ in range(rng.randint(2, 10)))
              for _ in range(2000)]
words, length = [], 0
while length < 1 << 20:
    words.append(rng.choice(vocabulary) + (".\r\n" if rng.randrange(12) == 0 else " "))
    length += len(words[-1])
text_block = "".join(words).encode()[: 1 << 20]

def write_zip(path, items):
    """A zip of (name, raw deflate, size, crc) members, as archivers write them."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    directory = b""
    with open(path, "wb") as out:
        for name, deflated, size, crc in items:
            name = name.encode()
            common = struct.pack("<HHHIIIIHH", 20, 0, 8, 0x5A5A5A5A, crc, len(deflated), size,
                                 len(name), 0)
            directory += (b"PK\x01\x02" + struct.pack("<H", 20) + common +
                          struct.pack("<HHHII", 0, 0, 0, 0, out.tell()) + name)
            out.write(b"PK\x03\x04" + common + name)
            out.write(deflated)
        at = out.tell()
        out.write(directory + b"PK\x05\x06" +
                  struct.pack("<HHHHIIH", 0, 0, len(items), len(items), len(directory), at, 0))

def deflated(data):
    compressor = zlib.compressobj(6, zlib.DEFLATED, -15)
    return compressor.compress(data) + compressor.flush(), len(data), zlib.crc32(data)
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
for i in range(zips):
    items = []
    for name in ("readme.txt", "data/list.csv", "data/notes.txt"):
        size = rng.randint(200, 4200)
        start = rng.randrange(len(text_block) - size)
        items.append((name, *deflated(text_block[start:start + size])))
    write_zip("%s/zips/d%02d/z%05d.zip" % (work, i % 20, i), items)
member = deflated(text_block * member_mib)  # every member the same text, deflated once
write_zip(work + "/bigzip/logs.zip",
          [("logs/part%d.txt" % i, *member) for i in range(members)])
with open(work + "/db/member.hsb", "w") as out:
    out.write("%064x:%d:Bench.Member\n" % (rng.getrandbits(256), member[1]))
PYTHON
# both scanners read from the page cache
cat -- "$work"/large/*/* "$work"/small/*/*/* "$work"/zips/*/* "$work"/bigzip/* >/dev/null

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

# clamscan_run TREE [LIMIT...] and host_run TREE [LIMIT...]: one scan of the tree.
clamscan_run() {
    local tree="$1"
    shift
    clamscan -d "$work/db" -r --no-summary --infected "$@" "$tree"
}
host_run() {
    local tree="$1"
    shift
    "$build/wine-run" "$build/bin/devicescan-host.exe" --scan "$(wine_path "$tree")" \
        --db "$(wine_path "$work/db")" "$@"
}

printf '%-42s %12s %12s %8s\n' "tree" "clamscan ms" "ours ms" "ratio"
for tree in empty large small zips bigzip; do
    theirs_limits=() ours_limits=()
    if [ $tree = bigzip ]; then
        theirs_limits=(--max-filesize=2000M --max-scansize=2000M)
        ours_limits=(--max-filesize 2000M --max-scansize 2000M)
    fi
    timed "clamscan $tree" clamscan_run "$work/$tree" "${theirs_limits[@]}"
    theirs=$LAST_MS
    timed "devicescan-host $tree" host_run "$work/$tree" "${ours_limits[@]}"
    ours=$LAST_MS
    case $tree in
        empty) what="database load only" ;;
        large) what="$large_files x $large_mib MiB, all hashed" ;;
        small) what="$small_files small files, no size listed" ;;
        zips) what="$zips zips of 3 members, no size listed" ;;
        bigzip) what="zip of $members x $member_mib MiB, all hashed" ;;
    esac
    printf '%-42s %12d %12d %8.2f\n' "$what" "$theirs" "$ours" \
        "$(awk -v a="$ours" -v b="$theirs" 'BEGIN { print (b > 0 ? a / b : 0) }')"
done
echo "(ratio: ours / clamscan; both include start-up and the database load)"
