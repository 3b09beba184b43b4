#!/usr/bin/env bash
# Builds Little CMS 2 for the Windows build, once: Debian's own source
# package of the version the native build links (apt checks the tarball
# against the signed archive), cross-compiled by MinGW-w64 as a static
# library, installed under build/deps/mingw, where the Windows toolchain file
# looks for it.
#   scripts/lcms2_mingw.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
prefix="$root/build/deps/mingw"
[[ -f "$prefix/lib/liblcms2.a" ]] && exit 0

. "$root/scripts/deb_source.sh"
work="$root/build/deps/lcms2"
deb_source lcms2 "$work"
cd "$work/source"
# Only the library and its headers: the tools need libjpeg and libtiff.
./configure --host=x86_64-w64-mingw32 CC=x86_64-w64-mingw32-gcc-posix --prefix="$prefix" \
  --enable-static --disable-shared --without-jpeg --without-tiff > ../build.log
make -C src -j"$(nproc)" >> ../build.log
make -C src install >> ../build.log
make -C include install >> ../build.log
echo "Little CMS for Windows: $prefix"
