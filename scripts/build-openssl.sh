#!/usr/bin/env bash
# Builds OpenSSL's libcrypto for i686 mingw from Debian's source package into the cache.
# Skipped when the cache already holds it.
set -euo pipefail
source "$(dirname "$0")/env.sh"

[ -f "$OPENSSL_PREFIX/lib/libcrypto.a" ] && [ -f "$OPENSSL_PREFIX/include/openssl/aes.h" ] && exit 0

echo "Building OpenSSL libcrypto for i686 mingw into $OPENSSL_PREFIX"
# Debian's default sources carry no source entries: add one for the main archive
# (the security archive's source files are not always served), then refresh the lists.
src_list=/etc/apt/sources.list.d/nimbal-deb-src.sources
if ! apt-cache showsrc openssl 2>/dev/null | grep -q '^Package: openssl'; then
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    awk 'BEGIN{RS=""; ORS="\n\n"} /debian-security/ {next} {sub(/^Types: deb\n/, "Types: deb-src\n"); print}' \
      /etc/apt/sources.list.d/debian.sources > "$src_list"
  else
    grep '^deb ' /etc/apt/sources.list | grep -v security | sed 's/^deb /deb-src /' > "${src_list%.sources}.list"
  fi
  apt-get update -qq
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
apt-get source --download-only openssl >/dev/null 2>&1
tarball=$(ls openssl_*.orig.tar.* | head -n 1)
tar xf "$tarball"
cd openssl-*/
./Configure mingw no-shared no-asm no-tests no-module no-engine no-dso \
  --cross-compile-prefix=i686-w64-mingw32- --prefix="$OPENSSL_PREFIX" --libdir=lib >/dev/null
make -j"$(nproc)" build_libs >/dev/null 2>&1
mkdir -p "$OPENSSL_PREFIX"
make install_dev >/dev/null
