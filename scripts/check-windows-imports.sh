#!/usr/bin/env bash
# Fails unless the Windows executable imports only DLLs that every Windows
# system has, so that it runs on its own, with no DLL beside it.
set -euo pipefail
exe=${1:?usage: scripts/check-windows-imports.sh <path to .exe>}

# The system's own DLLs (compared in lower case).
allowed="kernel32.dll msvcrt.dll shell32.dll bcrypt.dll advapi32.dll user32.dll ntdll.dll"

mapfile -t imports < <(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p')
if [[ ${#imports[@]} -eq 0 ]]; then
  echo "$exe: no imports found" >&2
  exit 1
fi
status=0
for dll in "${imports[@]}"; do
  lower=${dll,,}
  if [[ " $allowed " != *" $lower "* ]]; then
    echo "$exe imports $dll, which is not part of Windows" >&2
    status=1
  fi
done
if [[ $status -eq 0 ]]; then echo "$exe imports only system DLLs: ${imports[*]}"; fi
exit $status
