#!/usr/bin/env bash
# Deciphers every vector that string_cipher_test wrote with the openssl command-line tool and
# compares it with the zero-padded plaintext.
set -euo pipefail
dir=${1:?folder of the vectors}
key=$(cat "$dir/key.hex")
[ ${#key} -eq 32 ] || { echo "key.hex does not hold 16 bytes" >&2; exit 1; }
shopt -s nullglob
count=0
for cipher in "$dir"/*.cipher; do
  plain=${cipher%.cipher}.plain
  if ! openssl enc -d -aes-128-ecb -nopad -K "$key" -in "$cipher" | cmp -s - "$plain"; then
    echo "$(basename "$cipher"): openssl deciphers it differently" >&2
    exit 1
  fi
  count=$((count + 1))
done
[ $count -gt 0 ] || { echo "no vectors in $dir" >&2; exit 1; }
echo "$count vectors deciphered by openssl as expected"
