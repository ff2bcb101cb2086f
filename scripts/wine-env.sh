# Shared Wine helpers, sourced by the project's scripts. WINEPREFIX must be set (absolute path).
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
export WINEARCH=win64

# Creates the headless prefix once. Windows need Wine's null graphics driver when there is no
# display, and the driver setting takes effect only after the wineserver has restarted. A lock
# keeps two processes from creating the same prefix at once. A creation that leaves no usable
# prefix (it has happened once, silently, in a run of the test command) is tried once more from
# scratch; each failure says which step failed.
wine_prepare_prefix() {
    [ -f "$WINEPREFIX/.headless" ] && return 0
    mkdir -p "$(dirname "$WINEPREFIX")"
    local attempt
    for attempt in 1 2; do
        if (
            flock 9
            [ -f "$WINEPREFIX/.headless" ] && exit 0
            wine_create_prefix
        ) 9>"$WINEPREFIX.lock"; then
            return 0
        fi
        [ $attempt = 1 ] && echo "wine: creating the prefix $WINEPREFIX failed; trying once more" >&2
    done
    echo "wine: could not create the prefix $WINEPREFIX" >&2
    return 1
}

# The steps of a prefix's creation, checked by what they leave behind (Wine writes the registry
# files when its server ends; the steps' own statuses say little).
wine_create_prefix() {
    wineserver -k >/dev/null 2>&1 || true
    case "$WINEPREFIX" in */wineprefix) rm -rf "$WINEPREFIX" ;; esac  # a half-made one of ours
    wineboot -i >/dev/null 2>&1 || true
    wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1 || true
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "wine: wineboot -i left no registry in $WINEPREFIX" >&2
        return 1
    fi
    if ! grep -q '"Graphics"="null"' "$WINEPREFIX/user.reg" 2>/dev/null; then
        echo "wine: the null graphics driver was not set in $WINEPREFIX" >&2
        return 1
    fi
    touch "$WINEPREFIX/.headless"
}

# Keeps one wineserver alive for a whole run, so that each program starts in a tenth of a second.
# Wine's own background processes (services, device manager) are started here, detached from any
# pipe: started by the first test program instead, they would inherit its output pipe and keep
# ctest waiting for the end of that output until the wineserver stops.
# The desktop process (explorer.exe /desktop) is the same kind: Wine starts it for the first
# program that creates a window or broadcasts a message, it inherits that program's standard
# error, and it lives until a second after the last program using the desktop has gone. A
# notepad left open for the run (invisible under the null driver) keeps one desktop process,
# started here without a pipe, alive until the wineserver stops.
wine_start_server() {
    local attempt status
    for attempt in 1 2; do
        status=0
        wine_start_server_once || status=$?
        [ $status -eq 0 ] && return 0
        if [ $attempt = 2 ] && [ $status = 2 ]; then
            echo "wine: going on without a desktop process kept for the run" >&2
            return 0
        fi
        [ $attempt = 1 ] && echo "wine: trying once more to start the wineserver" >&2
        wine_stop_server
    done
    echo "wine: could not start the wineserver of $WINEPREFIX" >&2
    return 1
}

# 1: the wineserver or its first program failed; 2: the desktop process did not appear.
wine_start_server_once() {
    wineserver -p >/dev/null 2>&1 || true  # one may run already: it is used
    if ! wine wineboot </dev/null >/dev/null 2>&1; then
        echo "wine: wineboot in $WINEPREFIX failed" >&2
        return 1
    fi
    (wine notepad.exe </dev/null >/dev/null 2>&1 &)
    local tries=100
    until wine_desktop_running; do
        tries=$((tries - 1))
        if [ $tries -eq 0 ]; then
            echo "wine: no desktop process in $WINEPREFIX after 10 s" >&2
            return 2
        fi
        sleep 0.1
    done
}

# Whether the desktop process of this prefix runs (other prefixes may have theirs).
wine_desktop_running() {
    local cmdline
    for cmdline in $(grep -las 'explorer\.exe./desktop' /proc/[0-9]*/cmdline); do
        tr '\0' '\n' <"${cmdline%/cmdline}/environ" 2>/dev/null |
            grep -qxF "WINEPREFIX=$WINEPREFIX" && return 0
    done
    return 1
}
wine_stop_server() { wineserver -k >/dev/null 2>&1 || true; }

# wine_path UNIX_PATH: the same file as a Windows program of the prefix names it (Wine's Z: is /).
wine_path() { printf 'Z:%s' "${1//\//\\}"; }
