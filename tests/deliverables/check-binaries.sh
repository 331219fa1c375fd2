#!/usr/bin/env bash
# Each file must be pei-i386 and import only DLLs that Windows itself ships.
set -u
system_dlls='^(kernel32|user32|advapi32|ole32|oleaut32|shell32|shlwapi|ws2_32|wtsapi32|userenv|iphlpapi|dbghelp|msvcrt|winhttp|httpapi|crypt32|bcrypt|rpcrt4|secur32|gdi32|version|netapi32|api-ms-win-[a-z0-9-]+)\.dll$'
status=0
for file in "$@"; do
  format=$(i686-w64-mingw32-objdump -f "$file" | sed -n 's/.*file format //p')
  if [ "$format" != "pei-i386" ]; then
    echo "FAIL $file: format '$format'"
    status=1
  fi
  while read -r dll; do
    if ! echo "$dll" | tr 'A-Z' 'a-z' | grep -Eq "$system_dlls"; then
      echo "FAIL $file imports $dll"
      status=1
    fi
  done < <(i686-w64-mingw32-objdump -p "$file" | sed -n 's/^\s*DLL Name: //p')
  [ $status -eq 0 ] && echo "ok $file: pei-i386, imports $(i686-w64-mingw32-objdump -p "$file" | sed -n 's/^\s*DLL Name: //p' | tr '\n' ' ')"
done
exit $status
