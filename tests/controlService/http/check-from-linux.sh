#!/usr/bin/env bash
# Reaches the control server, run under Wine by serve_on_loopback, with curl from the Linux side.
#   check-from-linux.sh SERVE_ON_LOOPBACK_EXE
set -euo pipefail

server_exe=${1:?serve_on_loopback.exe}
work=$(mktemp -d)
server_pid=
cleanup() {
  exec 3>&- 2>/dev/null || true
  if [ -n "$server_pid" ] && kill -0 "$server_pid" 2>/dev/null; then kill "$server_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

mkfifo "$work/input"
wine "$server_exe" <"$work/input" >"$work/output" 2>"$work/errors" &
server_pid=$!
exec 3>"$work/input"

port=
for _ in $(seq 1 120); do
  port=$(sed -n 's/^listening on \([0-9]*\).*/\1/p' "$work/output")
  [ -n "$port" ] && break
  if ! kill -0 "$server_pid" 2>/dev/null; then break; fi
  sleep 0.5
done
if [ -z "$port" ]; then
  echo "the server did not start:"; cat "$work/output" "$work/errors"; exit 1
fi
base="http://127.0.0.1:$port"

# One curl run, one connection for every request: method, path, data, headers per request.
curl -sS --max-time 60 \
  -D "$work/h1" -o "$work/b1" -X POST "$base/TYTUT" -d '' --next \
  -D "$work/h2" -o "$work/b2" -X POST "$base/vpn/connect" -d 'server=de-1' --next \
  -D "$work/h3" -o "$work/b3" -X POST "$base/setting/set" -H 'name: Test.fromLinux' -H 'value: yes' -d '' --next \
  -D "$work/h4" -o "$work/b4" -X POST "$base/setting/get" -d 'name=Test.fromLinux' --next \
  -D "$work/h5" -o "$work/b5" -X GET "$base/TYTUT" --next \
  -D "$work/h6" -o "$work/b6" -X POST "$base/TYTUT?x=1" -d ''

failures=0
expect() {
  local n=$1 status_line=$2 body=$3
  local got_status got_type got_body
  got_status=$(head -n1 "$work/h$n" | tr -d '\r')
  got_type=$(grep -i '^Content-Type:' "$work/h$n" | tr -d '\r' || true)
  got_body=$(cat "$work/b$n")
  if [ "$got_status" != "$status_line" ] || [ "$got_type" != "Content-Type: text/html" ] || [ "$got_body" != "$body" ]; then
    echo "request $n: got '$got_status' '$got_type' '$got_body', expected '$status_line' 'Content-Type: text/html' '$body'"
    failures=$((failures + 1))
  fi
}
expect 1 "HTTP/1.1 200 OK" "GDEZHESCHIO!"
expect 2 "HTTP/1.1 200 OK" "connectToServer reply"
expect 3 "HTTP/1.1 200 OK" "Success"
expect 4 "HTTP/1.1 200 OK" "yes"
expect 5 "HTTP/1.1 501 Not Implemented" "Got an unsupported request with non-POST method"
expect 6 "HTTP/1.1 501 Not Implemented" "Can't find URL handler"

# End of input stops the server, which then lists what the service was asked for.
exec 3>&-
wait "$server_pid"
server_pid=
calls=$(sed -n 's/^call //p' "$work/output" | tr -d '\r' | paste -sd '|')
if [ "$calls" != "connectToServer(de-1)|setRequiredState(true)|saveUserAndMainSettings()" ]; then
  echo "service calls: '$calls'"
  failures=$((failures + 1))
fi

[ "$failures" -eq 0 ] && echo "control server reached from Linux on port $port"
exit "$failures"
