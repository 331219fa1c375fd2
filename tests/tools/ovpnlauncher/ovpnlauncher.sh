#!/bin/bash
# Runs openvpn for the launcher and ties their lives together.
#   bash -c SCRIPT ovpnlauncher PORT OPENVPN_ARGUMENT...
# PORT is a loopback TCP port on which the launcher waits for this script. Wine gives neither side
# a way to wait for the other, so this connection does it both ways: the script reports openvpn's
# exit status on it ("exit N"), and the end of the connection tells the script that the launcher
# has gone, terminated or not; openvpn is then stopped, by force if it lingers.
set -u
export PATH=/usr/sbin:/usr/bin:/sbin:/bin
exec 3<>"/dev/tcp/127.0.0.1/$1" || exit 1
shift
openvpn "$@" </dev/null 3<&- &
daemon=$!
trap '' PIPE
(
    while read -r -u 3 _; do :; done
    kill -TERM "$daemon" 2>/dev/null || exit 0
    for ((i = 0; i < 50; i++)); do
        sleep 0.1
        kill -0 "$daemon" 2>/dev/null || exit 0
    done
    kill -KILL "$daemon" 2>/dev/null
) &
watcher=$!
wait "$daemon"
status=$?
kill "$watcher" 2>/dev/null
printf 'exit %d\n' "$status" >&3
