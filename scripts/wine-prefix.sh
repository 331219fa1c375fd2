#!/usr/bin/env bash
# Creates a Wine prefix for the tests, or ends every process running in one.
#   wine-prefix.sh start DIR   create DIR if needed and leave no service of ours installed
#   wine-prefix.sh stop DIR    end every process of DIR (wineserver -k)
set -euo pipefail
source "$(dirname "$0")/env.sh"

action=${1:?start or stop}
export WINEPREFIX=${2:?prefix folder}

# Boots a new prefix; on failure shows what wine said and leaves no half-made prefix behind.
make_prefix() {
  local log="$WINEPREFIX.boot.log"
  mkdir -p "$WINEPREFIX"
  if [ "$(stat -c %u "$WINEPREFIX")" != "$(id -u)" ]; then
    echo "The Wine prefix $WINEPREFIX belongs to another user; wine runs only in a prefix of its own user" >&2
    return 1
  fi
  if wineboot --init >"$log" 2>&1 && wineserver --wait >>"$log" 2>&1 && [ -f "$WINEPREFIX/system.reg" ]; then
    rm -f "$log"
    return 0
  fi
  echo "wineboot --init in $WINEPREFIX failed; what wine said:" >&2
  cat "$log" >&2
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX"
  return 1
}

case "$action" in
  start)
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      make_prefix || {
        # A first boot can fail for reasons of the moment; a second try starts from nothing.
        echo "Making the Wine prefix $WINEPREFIX failed; trying once more" >&2
        make_prefix || { echo "Making the Wine prefix $WINEPREFIX failed again" >&2; exit 1; }
      }
    fi
    # A run that died may have left the service installed; it would start with the prefix.
    if wine reg query 'HKLM\System\CurrentControlSet\Services\Nimbal' >/dev/null 2>&1; then
      wine sc stop Nimbal >/dev/null 2>&1 || true
      wine sc delete Nimbal >/dev/null 2>&1 || true
    fi
    ;;
  stop)
    [ -d "$WINEPREFIX" ] && wineserver -k >/dev/null 2>&1 || true
    ;;
  *)
    echo "usage: $0 start|stop DIR" >&2
    exit 2
    ;;
esac
