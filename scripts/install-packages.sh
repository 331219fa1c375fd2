#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need. Quiet when all are present.
set -euo pipefail

packages=(wine wine32:i386 wine64 mingw-w64 g++-mingw-w64-i686-posix libboost-dev googletest
          openvpn cmake make python3 openssl ca-certificates curl binutils-mingw-w64-i686 dpkg-dev
          chromium clang libclang-rt-14-dev)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing packages: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
