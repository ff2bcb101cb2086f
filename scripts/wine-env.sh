# Shared Wine helpers, sourced by the project's scripts. WINEPREFIX must be set (absolute path).
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
export WINEARCH=win64

# Creates the headless prefix once. Windows need Wine's null graphics driver when there is no
# display, and the driver setting takes effect only after the wineserver has restarted. A lock
# keeps two processes from creating the same prefix at once.
wine_prepare_prefix() {
    [ -f "$WINEPREFIX/.headless" ] && return 0
    mkdir -p "$(dirname "$WINEPREFIX")"
    (
        flock 9
        [ -f "$WINEPREFIX/.headless" ] && exit 0
        wineboot -i >/dev/null 2>&1
        wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
        wineserver -k >/dev/null 2>&1
        wineserver -w >/dev/null 2>&1
        touch "$WINEPREFIX/.headless"
    ) 9>"$WINEPREFIX.lock"
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
    wineserver -p >/dev/null 2>&1 || true  # one may run already: it is used
    wine wineboot </dev/null >/dev/null 2>&1
    (wine notepad.exe </dev/null >/dev/null 2>&1 &)
    local tries=100
    until wine_desktop_running || [ $tries -eq 0 ]; do
        sleep 0.1
        tries=$((tries - 1))
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
