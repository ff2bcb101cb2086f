#!/bin/sh
# Every shipped binary imports only Windows system DLLs (the C++ runtime is linked in), and the
# module exports exactly its two functions, undecorated.
set -eu
bin="$1"
status=0
allowed='^(kernel32|user32|advapi32|mpr|wtsapi32|winmm|shlwapi|msvcrt|ntdll|ole32|gdi32|bcrypt)\.dll$'
for file in "$bin"/*.dll "$bin"/*.exe; do
    [ -e "$file" ] || continue
    for dll in $(x86_64-w64-mingw32-objdump -p "$file" | sed -n 's/^\s*DLL Name: //p'); do
        if ! echo "$dll" | tr 'A-Z' 'a-z' | grep -Eq "$allowed"; then
            echo "$(basename "$file") imports $dll"
            status=1
        fi
    done
done
exports=$(x86_64-w64-mingw32-objdump -p "$bin/devicescan.dll" |
    sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | sed -n 's/^\s*\[ *[0-9]*\] //p' | sort | tr '\n' ' ')
if [ "$exports" != "QvCreateObject QvDestroyObject " ]; then
    echo "devicescan.dll exports: $exports"
    status=1
fi
[ $status -eq 0 ] && echo "shipped binaries: imports and exports as expected"
exit $status
