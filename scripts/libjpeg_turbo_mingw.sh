#!/usr/bin/env bash
# Builds libjpeg-turbo for the Windows build, once: Debian's own source
# package of the version the native build links (apt checks the tarball
# against the signed archive), cross-compiled by MinGW-w64 as a static
# library with its SIMD code (NASM), installed under build/deps/mingw, where
# the Windows toolchain file looks for it.
#   scripts/libjpeg_turbo_mingw.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
prefix="$root/build/deps/mingw"
[[ -f "$prefix/lib/libjpeg.a" ]] && exit 0

. "$root/scripts/deb_source.sh"
work="$root/build/deps/libjpeg-turbo"
deb_source libjpeg-turbo "$work"
cd "$work"
cmake -S source -B build -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
  -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_TURBOJPEG=OFF -DREQUIRE_SIMD=ON -Wno-dev > build.log
cmake --build build >> build.log
cmake --install build >> build.log
echo "libjpeg-turbo for Windows: $prefix"
