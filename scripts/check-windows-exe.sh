#!/usr/bin/env bash
# Checks that a Windows executable is a GUI program (no console opens beside its window), or
# with --console a console program (it writes to the console it was started from), and that it
# imports only DLLs that every Windows has, so that it runs copied alone onto a machine.
#
# Usage: check-windows-exe.sh [--console] PROGRAM.exe [OBJDUMP]
#        (OBJDUMP: x86_64-w64-mingw32-objdump)
set -euo pipefail

# The PE header's subsystem: 2 a Windows GUI program, 3 a console program.
subsystem_wanted=2
kind="Windows GUI"
if [ "${1:-}" = "--console" ]; then
    subsystem_wanted=3
    kind="Windows console"
    shift
fi
exe=$1
objdump=${2:-x86_64-w64-mingw32-objdump}

# Windows' own libraries, the C runtime that ships with it, and the API sets. The central
# journal's TLS adds the certificate store (crypt32), the random source (bcrypt) and the Windows
# logins libpq may use (secur32), all part of Windows since Vista.
allowed='^(kernel32|user32|gdi32|comctl32|comdlg32|advapi32|shell32|ole32|oleaut32|uxtheme|shlwapi|version|ws2_32|crypt32|bcrypt|secur32|msvcrt|ucrtbase|ntdll|setupapi|cfgmgr32|api-ms-win-[a-z0-9-]+)\.dll$'

headers=$("$objdump" -p "$exe")
status=0

subsystem=$(awk '$1 == "Subsystem" { print $2 }' <<<"$headers")
if [ "$((16#${subsystem:-0}))" -ne "$subsystem_wanted" ]; then
    echo "$exe: subsystem ${subsystem:-none}, not $subsystem_wanted ($kind)" >&2
    status=1
fi

dlls=$(awk '/DLL Name:/ { print $3 }' <<<"$headers")
[ -n "$dlls" ] || { echo "$exe: no imports found" >&2; status=1; }
for dll in $dlls; do
    if ! grep -qiE "$allowed" <<<"$dll"; then
        echo "$exe: imports $dll, which is not a Windows system DLL" >&2
        status=1
    fi
done

[ "$status" -eq 0 ] && echo "$exe: $kind program, imports only" $dlls
exit "$status"
