#!/usr/bin/env bash
# The library must export exactly these seven names, with these ordinals, and nothing else.
set -u
dll=${1:?path of NimbalCmdApi.dll}
expected='1 connectVPN
2 disconnectVPN
3 getVpnState
4 isServiceInstalled
5 isServiceRunning
6 tryToStartService
7 vpnUserLogOut'

table=$(i686-w64-mingw32-objdump -p "$dll") || { echo "FAIL objdump could not read $dll"; exit 1; }

# Ordinal = base + the index that the name table gives (newer binutils print the sum as +base[n]).
actual=$(echo "$table" | awk '
  /^Ordinal Base/ { base = $3 }
  /^\[Ordinal\/Name Pointer\] Table/ { names = 1; next }
  names && /^[ \t]*$/ { names = 0 }
  names {
    if (match($0, /\+base\[ *[0-9]+\]/)) {
      s = substr($0, RSTART, RLENGTH); gsub(/[^0-9]/, "", s); ordinal = s + 0
    } else {
      match($0, /\[ *[0-9]+\]/); s = substr($0, RSTART, RLENGTH); gsub(/[^0-9]/, "", s); ordinal = s + base
    }
    print ordinal, $NF
  }' | sort -n)
addresses=$(echo "$table" | sed -n 's/^\s*Export Address Table\s\+\([0-9a-fA-F]\+\)$/\1/p' | head -1)

status=0
if [ "$actual" != "$expected" ]; then
  echo "FAIL exports of $dll:"
  echo "$actual"
  echo "expected:"
  echo "$expected"
  status=1
fi
# No export without a name (an ordinal-only entry would not show in the name table).
if [ "$((16#${addresses:-0}))" -ne 7 ]; then
  echo "FAIL $dll has ${addresses:-no} export address entries, expected 7"
  status=1
fi
[ $status -eq 0 ] && echo "ok $dll exports:" $actual
exit $status
