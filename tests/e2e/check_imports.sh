#!/usr/bin/env bash
# Fails when a Windows program or library imports a library that Windows does not always load from
# its system folder: anything else could be planted beside the setup program and loaded instead.
# msvcrt.dll, the C runtime of MinGW programs, is one of those "known DLLs".
set -u
objdump=$1
shift
allowed='^(kernel32|user32|gdi32|advapi32|shell32|ole32|oleaut32|comctl32|msvcrt)\.dll$'
status=0
for binary in "$@"; do
  imports=$("$objdump" -p "$binary" | sed -n 's/^\s*DLL Name: //p')
  if [ -z "$imports" ]; then
    echo "FAIL $binary: no import table found"
    status=1
    continue
  fi
  for dll in $imports; do
    if ! echo "$dll" | tr 'A-Z' 'a-z' | grep -qE "$allowed"; then
      echo "FAIL $binary imports $dll"
      status=1
    fi
  done
  echo "$(basename "$binary") imports: $(echo $imports)"
done
exit $status
