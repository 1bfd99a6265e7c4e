#!/usr/bin/env bash
# Checks the DLLs a built launcher.exe imports: exactly the given names (letter
# case aside), each a known DLL that Windows maps from the system folder
# whatever lies beside the program, and no delay-loaded DLL (every other DLL
# is loaded at run time, from the system folder alone); and the oldest Windows
# the header declares.
# Usage: check_exe_imports.sh OBJDUMP EXE DLL...
set -euo pipefail
objdump=$1 exe=$2
shift 2
fail() { echo "FAIL: $*" >&2; exit 1; }

command -v "$objdump" >/dev/null || fail "no objdump \"$objdump\": scripts/setup installs MinGW's binutils"
[ -f "$exe" ] || fail "$exe is missing"
headers=$("$objdump" -p "$exe") || fail "$objdump cannot read $exe"
got=$(sed -n 's/^\s*DLL Name: //p' <<<"$headers" | tr 'A-Z' 'a-z' | sort -u | tr '\n' ' ')
want=$(printf '%s\n' "$@" | tr 'A-Z' 'a-z' | sort -u | tr '\n' ' ')
echo "imports: $got"
[ "$got" == "$want" ] || fail "$exe imports $got; expected $want"
# The data directory entry of delay imports ("Entry d"): no address, no size.
delay=$(awk '$1 == "Entry" && $2 == "d" { print $3, $4 }' <<<"$headers")
[ -n "$delay" ] || fail "$objdump printed no data directory for $exe"
[ "$(tr -d '0 ' <<<"$delay")" == "" ] || fail "$exe delay-loads DLLs (directory $delay)"
echo "no delay-loaded DLL"
# Windows 7 (6.1) at the oldest, as the imports need and the manifest says.
for field in OSystem Subsystem; do
  major=$(awk -v f="Major${field}Version" '$1 == f { print $2 }' <<<"$headers")
  minor=$(awk -v f="Minor${field}Version" '$1 == f { print $2 }' <<<"$headers")
  [ "$major.$minor" == 6.1 ] || fail "$exe declares ${field} version $major.$minor, not 6.1 (Windows 7)"
done
echo "declared for Windows 7 (6.1) and later"
