#!/usr/bin/env bash
# Checks that every DLL an executable imports is one of the given DLLs (the
# system's known DLLs): the loader resolves imports before any of the
# program's code runs, and looks for a DLL that is not a known DLL in the
# program's own folder first. Prints the imports it found.
# Usage: check_imports.sh OBJDUMP EXE KNOWN_DLL...
set -euo pipefail
objdump=$1 exe=$2
shift 2
[ -f "$exe" ] || { echo "FAIL: $exe is missing" >&2; exit 1; }
imports=$("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
[ -n "$imports" ] || { echo "FAIL: no import table read from $exe" >&2; exit 1; }
known=" $(echo "$*" | tr 'A-Z' 'a-z') "
status=0
for dll in $imports; do
  if [[ "$known" == *" $dll "* ]]; then
    echo "import: $dll (known DLL)"
  else
    echo "FAIL: $exe imports $dll, which is not a known DLL" >&2
    status=1
  fi
done
exit $status
