#!/bin/sh
# devicescan-host driven from a shell under Wine, as scripts drive it: standard input from
# /dev/null, from a pipe, not read at all, and Ctrl-C typed on a terminal (a pseudo-terminal
# made by script(1)). Every wait is bounded.
set -u
run="$1"     # the build's wine-run
host="$2"    # devicescan-host.exe
fake="$3"    # fake-service.dll
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0

# check NAME EXPECTED-EXIT-CODE EXPECTED-LAST-LINE ACTUAL-EXIT-CODE FILE
check() {
    # A terminal's output carries escape sequences, carriage returns and perhaps the echo of the
    # Ctrl-C itself around the text.
    last=$(tr -d '\r' <"$5" | sed 's/\x1b\[[0-9;?]*[a-zA-Z]//g; s/\^C//g' | grep -v '^$' | tail -n 1)
    if [ "$4" != "$2" ] || [ "$last" != "$3" ]; then
        echo "FAIL $1: exit $4 (expected $2), last line \"$last\" (expected \"$3\")"
        status=1
        return
    fi
    echo "ok   $1"
}

timeout 30 "$run" "$host" --module "$fake" </dev/null >"$work/null.out" 2>&1
check "stdin from /dev/null ends the run" 0 "stopped (end-of-input)" $? "$work/null.out"

timeout 30 "$run" "$host" --module "$fake" --no-stdin --seconds 1 </dev/null >"$work/timeout.out" 2>&1
check "--no-stdin runs until --seconds" 0 "stopped (timeout)" $? "$work/timeout.out"

# Waits (bounded) until the host has printed its "started" line into FILE.
wait_started() {
    i=0
    until grep -q 'started FileScan' "$1" 2>/dev/null || [ $i -ge 300 ]; do
        sleep 0.1
        i=$((i + 1))
    done
}

(wait_started "$work/pipe.out"; echo quit) |
    timeout 30 "$run" "$host" --module "$fake" >"$work/pipe.out" 2>&1
check "quit through a pipe" 0 "stopped (quit)" $? "$work/pipe.out"

# script(1) runs the command through $SHELL, or /bin/sh when that is unset. A shell that stays
# in between (dash does) is in the terminal's foreground group too, dies of the SIGINT that
# Ctrl-C raises, and script then reports 130 whatever the host did; exec takes it out.
(wait_started "$work/tty.out"; printf '\003'; sleep 1) |
    timeout 30 script -qfec "exec '$run' '$host' --module '$fake'" /dev/null >"$work/tty.out" 2>&1
check "Ctrl-C on a terminal" 0 "stopped (ctrl-c)" $? "$work/tty.out"

exit $status
