#!/usr/bin/env bash
# Creates a Wine prefix for the tests, or ends every process running in one.
#   wine-prefix.sh start DIR   create DIR if needed and leave no service of ours installed
#   wine-prefix.sh stop DIR    end every process of DIR (wineserver -k)
set -euo pipefail
source "$(dirname "$0")/env.sh"

action=${1:?start or stop}
export WINEPREFIX=${2:?prefix folder}

case "$action" in
  start)
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      mkdir -p "$WINEPREFIX"
      wineboot --init >/dev/null 2>&1
      wineserver --wait
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
