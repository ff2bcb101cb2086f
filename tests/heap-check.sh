#!/usr/bin/env bash
# Runs one test program under Wine's heap validation: Wine checks every heap block on every heap
# call and prints an err:heap line for a damaged one (an overrun of a block's end, a write after
# free). Any such line, or a failing program, fails the check.
# usage: heap-check.sh WINE_RUN OUTPUT PROGRAM [ARGS...]
# The validation also traces every heap call: those lines are dropped on the way to OUTPUT, which
# keeps the program's own output and Wine's messages. The debugger is off, so that a fault ends
# the program instead of leaving it waiting for a debugger that never comes.
set -u
wine_run=$1 output=$2
shift 2
export WINEDEBUG=+heap
export DEVICESCAN_REPEAT_DIVISOR=50  # long runs repeat 1/50 as often (tests/soak)
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
"$wine_run" "$@" 2>&1 | grep -av ':trace:heap:' >"$output"
status=${PIPESTATUS[0]}
if grep -aq ':err:heap:' "$output"; then
    echo "heap damage found by $*:"
    grep -a ':err:heap:' "$output" | head -20
    exit 1
fi
if [ "$status" -ne 0 ]; then
    echo "$* ended with exit code $status under heap validation; its output ($output):"
    tail -30 "$output"
    exit 1
fi
echo "no heap damage: $*"
