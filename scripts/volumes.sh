# Sample volumes for the end-to-end tests and the demo, sourced by bash scripts: directories (a
# tmpfs of exact size when running as root) plugged as drive letters of the build's Wine prefix
# with devicescan-volume, which also broadcasts each arrival and removal. Start the wineserver
# first (wine_start_server in wine-env.sh) so that each step takes a tenth of a second.
#
#   . scripts/volumes.sh
#   trap volumes_cleanup EXIT             # unplugs, unmounts and removes, also on failure
#   volume_make 16                        # VOLUME_DIR: a 16 MiB tmpfs (root) or a directory
#   volume_fill "$VOLUME_DIR"             # a few sample files
#   volume_plug "$VOLUME_DIR" removable   # VOLUME_LETTER: the first free letter from Y: down
#   volume_unplug "$VOLUME_LETTER"
#
# Types: removable, fixed, network, cdrom, ramdisk. The functions return non-zero on failure
# and say why on stderr; the tool's own report goes to stdout.

VOLUMES_BUILD="${VOLUMES_BUILD:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build}"
VOLUMES_PREFIX="${VOLUMES_PREFIX:-$VOLUMES_BUILD/wineprefix}"  # the one build/wine-run uses
VOLUMES_MADE=()     # directories made here, tmpfs or not
VOLUMES_PLUGGED=()  # letters plugged here and not unplugged yet

# Runs devicescan-volume.exe of the build with the given arguments.
volume_tool() {
    "$VOLUMES_BUILD/wine-run" "$VOLUMES_BUILD/bin/devicescan-volume.exe" "$@"
}

# volume_make [SIZE_MB]: makes a fresh directory in VOLUME_DIR. With a size and as root it is a
# tmpfs of that size (VOLUME_IS_TMPFS=1); otherwise, or when the mount is refused, a plain
# directory on the file system of /tmp (VOLUME_IS_TMPFS=0).
volume_make() {
    local size_mb="${1:-}"
    VOLUME_IS_TMPFS=0
    VOLUME_DIR="$(mktemp -d "${TMPDIR:-/tmp}/devicescan-volume.XXXXXX")" || return 1
    VOLUMES_MADE+=("$VOLUME_DIR")
    [ -n "$size_mb" ] && [ "$(id -u)" -eq 0 ] || return 0
    if mount -t tmpfs -o "size=${size_mb}m" tmpfs "$VOLUME_DIR"; then
        VOLUME_IS_TMPFS=1
    else
        echo "volumes: tmpfs refused, $VOLUME_DIR is a plain directory" >&2
    fi
}

# volume_fill DIR [COUNT]: writes a readme and COUNT (default 3) files of 4 KiB under data/.
volume_fill() {
    local dir="$1" count="${2:-3}" i
    mkdir -p "$dir/data" || return 1
    echo "sample volume made by scripts/volumes.sh" >"$dir/readme.txt" || return 1
    for ((i = 1; i <= count; i++)); do
        head -c 4096 /dev/urandom >"$dir/data/sample-$i.bin" || return 1
    done
}

# volume_add_eicar FILE: writes the anti-virus test file, the standard 68-byte string that every
# scanner reports by design, to FILE. It is put together here from pieces so that no file of the
# project holds it whole: scanners on developers' machines would quarantine that file.
volume_add_eicar() {
    local start='X5O!P%@AP[4\PZX54(P^)7CC)7}$' middle='EICAR-STANDARD-ANTI'
    local end='VIRUS-TEST-FILE!$H+H*'
    printf '%s%s%s' "$start" "$middle" "$end" >"$1"
}

# volume_add_eicar_zip ZIP MEMBER: writes a zip (deflated) holding the anti-virus test file as
# MEMBER, the way such a file usually travels: in an attachment.
volume_add_eicar_zip() {
    local plain
    plain="$(mktemp)" || return 1
    volume_add_eicar "$plain"
    python3 -c 'import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED) as archive:
    archive.write(sys.argv[2], sys.argv[3])' "$1" "$plain" "$2"
    local status=$?
    rm -f "$plain"
    return $status
}

# volume_plug DIR TYPE [LETTER] [--no-broadcast]: plugs DIR as a drive of TYPE on LETTER, or on
# the first free letter from Y: down to M:, and broadcasts its arrival. Sets VOLUME_LETTER (upper
# case). Returns the tool's exit code: 3 when LETTER is taken, 4 when DIR does not exist.
volume_plug() {
    local dir="$1" type="$2" chosen="${3:-}" letter status report
    shift $(($# < 2 ? $# : 2))
    case "$chosen" in
        --*) chosen="" ;;
        *) [ $# -gt 0 ] && shift ;;
    esac
    local letters="${chosen:-Y X W V U T S R Q P O N M}"
    for letter in $letters; do
        letter="${letter^^}"
        report="$(volume_tool plug "$letter" "$type" "$dir" "$@" 2>&1)" && status=0 || status=$?
        [ $status -eq 3 ] && [ -z "$chosen" ] && continue  # taken: try the next letter
        if [ $status -ne 0 ]; then
            echo "$report" >&2
            return $status
        fi
        echo "$report"
        VOLUME_LETTER="$letter"
        VOLUMES_PLUGGED+=("$letter")
        return 0
    done
    echo "volumes: no free drive letter for $dir" >&2
    return 3
}

# volume_unplug LETTER [--no-broadcast]: removes the letter and broadcasts its removal.
volume_unplug() {
    local letter="${1^^}" kept=() l
    shift
    for l in "${VOLUMES_PLUGGED[@]}"; do
        [ "$l" = "$letter" ] || kept+=("$l")
    done
    VOLUMES_PLUGGED=("${kept[@]}")
    volume_tool unplug "$letter" "$@"
}

# volume_target LETTER: prints the Unix directory the letter leads to in the prefix; fails when
# the letter is not defined. (Wine keeps each drive letter as a symbolic link in dosdevices/.)
volume_target() {
    local link="$VOLUMES_PREFIX/dosdevices/${1,,}:"
    [ -L "$link" ] && readlink "$link"
}

# Unplugs every letter plugged here, unmounts every tmpfs made here and removes the directories.
# Safe to call more than once, and from an EXIT trap: it never fails and keeps the exit status.
volumes_cleanup() {
    local status=$? letter dir
    for letter in "${VOLUMES_PLUGGED[@]}"; do
        volume_tool unplug "$letter" >/dev/null 2>&1 || true
    done
    VOLUMES_PLUGGED=()
    for dir in "${VOLUMES_MADE[@]}"; do
        if mountpoint -q "$dir"; then
            umount "$dir" 2>/dev/null || umount -l "$dir" 2>/dev/null || true
        fi
        mountpoint -q "$dir" || rm -rf "$dir"
    done
    VOLUMES_MADE=()
    return $status
}
