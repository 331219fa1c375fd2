#!/usr/bin/env bash
# Makes the mock API's certificate and has this machine trust it, so that WinHTTP under Wine
# (which takes its root certificates from the host) accepts https://localhost without options.
#   make-certificate.sh DIR
# DIR receives ca.crt and ca.key (a test authority) and server.crt and server.key (localhost,
# 127.0.0.1, signed by that authority). Quiet and quick when all is already in place.
set -euo pipefail

dir=${1:?certificate folder}
trusted=/usr/local/share/ca-certificates/nimbal-mock-api.crt

mkdir -p "$dir"
# Several worktrees may set up at once; they share this folder.
exec 9>"$dir/.lock"
flock 9

valid() {
  [ -f "$dir/ca.crt" ] && [ -f "$dir/ca.key" ] && [ -f "$dir/server.crt" ] && [ -f "$dir/server.key" ] &&
    openssl x509 -in "$dir/server.crt" -noout -checkend $((30 * 86400)) >/dev/null 2>&1 &&
    openssl verify -CAfile "$dir/ca.crt" "$dir/server.crt" >/dev/null 2>&1 &&
    [ "$(openssl x509 -in "$dir/server.crt" -noout -pubkey)" = "$(openssl pkey -in "$dir/server.key" -pubout)" ]
}

if ! valid; then
  echo "Making the mock API certificate in $dir"
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -sha256 \
    -subj "/O=Nimbal tests/CN=Nimbal mock API test authority" \
    -addext "basicConstraints=critical,CA:TRUE" \
    -addext "keyUsage=critical,keyCertSign,cRLSign" \
    -addext "subjectKeyIdentifier=hash" \
    -keyout "$work/ca.key" -out "$work/ca.crt" 2>/dev/null
  openssl req -new -newkey rsa:2048 -nodes -sha256 -subj "/O=Nimbal tests/CN=localhost" \
    -keyout "$work/server.key" -out "$work/server.csr" 2>/dev/null
  cat > "$work/server.ext" <<'EOF'
basicConstraints=critical,CA:FALSE
keyUsage=critical,digitalSignature,keyEncipherment
extendedKeyUsage=serverAuth
subjectAltName=DNS:localhost,IP:127.0.0.1
subjectKeyIdentifier=hash
authorityKeyIdentifier=keyid
EOF
  openssl x509 -req -in "$work/server.csr" -CA "$work/ca.crt" -CAkey "$work/ca.key" -CAcreateserial \
    -days 3650 -sha256 -extfile "$work/server.ext" -out "$work/server.crt" 2>/dev/null
  chmod 600 "$work/ca.key" "$work/server.key"
  # An interrupted copy leaves a mismatch that the check above sees, so the next run makes them again.
  for f in ca.key server.key ca.crt server.crt; do
    cp "$work/$f" "$dir/$f.new"
    mv "$dir/$f.new" "$dir/$f"
  done
fi

if ! cmp -s "$dir/ca.crt" "$trusted"; then
  echo "Trusting the mock API's test authority ($trusted)"
  cp "$dir/ca.crt" "$trusted"
  update-ca-certificates >/dev/null 2>&1
fi
