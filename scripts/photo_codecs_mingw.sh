#!/usr/bin/env bash
# Builds the readers of phone and browser photos for the Windows build, once:
# Debian's own source packages of the versions the native build links (apt
# checks each tarball against the signed archive), cross-compiled by
# MinGW-w64 and installed under build/deps/mingw, where the Windows toolchain
# file looks for them.
#   libwebp   static
#   dav1d     static, with its assembly (NASM), linked into libheif
#   libde265  DLL (LGPL): libde265.dll beside the programs
#   libheif   DLL (LGPL): libheif.dll beside the programs
# The two DLLs link the C and C++ runtimes and winpthread statically, so they
# import only system DLLs, and export only the functions their public
# headers declare (a .def file made from those headers).
#   scripts/photo_codecs_mingw.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
prefix="$root/build/deps/mingw"
[[ -f "$prefix/bin/libheif.dll" && -f "$prefix/lib/libwebp.a" ]] && exit 0

. "$root/scripts/deb_source.sh"
toolchain="$root/cmake/mingw-w64-x86_64.cmake"
triple=x86_64-w64-mingw32
export PKG_CONFIG_LIBDIR="$prefix/lib/pkgconfig"
unset PKG_CONFIG_PATH
mkdir -p "$prefix"

# The exports of a DLL: every function a header marks with its API macro
# and the library's objects define (a header may declare one it never made).
#   def_file MACRO DLL BUILD_DIR OUT HEADER...
def_file() {
  local macro=$1 library=$2 build=$3 out=$4
  shift 4
  local objects
  objects=$(ninja -C "$build" -t targets all | sed -n 's/^\([^:]*\.obj\): .*/\1/p')
  # shellcheck disable=SC2086
  ninja -C "$build" $objects > /dev/null
  (cd "$build" && "$triple-nm" -g --defined-only $objects) | awk '$2 == "T" { print $3 }' |
    sort -u > "$out.defined"
  {
    echo "LIBRARY $library"
    echo "EXPORTS"
    awk -v macro="$macro" '
      /^[ \t]*#/ { next }
      $0 ~ macro { pending = 1 }
      pending && match($0, /[A-Za-z_][A-Za-z0-9_]*[ \t]*\(/) {
        name = substr($0, RSTART, RLENGTH); sub(/[ \t]*\($/, "", name)
        if (name != macro && name !~ /^(const|struct|enum|void|int|__.*)$/) { print name; pending = 0 }
      }' "$@" | sort -u | comm -12 - "$out.defined" | sed 's/^/  /'
  } > "$out"
}

dll_link_flags="-static -Wl,--exclude-libs,ALL"

build_libwebp() {
  local work="$root/build/deps/libwebp"
  deb_source libwebp "$work"
  cmake -S "$work/source" -B "$work/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF \
    -DWEBP_BUILD_ANIM_UTILS=OFF -DWEBP_BUILD_CWEBP=OFF -DWEBP_BUILD_DWEBP=OFF \
    -DWEBP_BUILD_GIF2WEBP=OFF -DWEBP_BUILD_IMG2WEBP=OFF -DWEBP_BUILD_VWEBP=OFF \
    -DWEBP_BUILD_WEBPINFO=OFF -DWEBP_BUILD_WEBPMUX=OFF -DWEBP_BUILD_EXTRAS=OFF -Wno-dev \
    > "$work/build.log"
  cmake --build "$work/build" >> "$work/build.log"
  cmake --install "$work/build" >> "$work/build.log"
}

build_dav1d() {
  local work="$root/build/deps/dav1d"
  deb_source dav1d "$work"
  cat > "$work/cross.txt" <<CROSS
[binaries]
c = '$triple-gcc-posix'
ar = '$triple-ar'
strip = '$triple-strip'
windres = '$triple-windres'
nasm = 'nasm'
pkgconfig = 'pkg-config'
[host_machine]
system = 'windows'
cpu_family = 'x86_64'
cpu = 'x86_64'
endian = 'little'
CROSS
  meson setup "$work/build" "$work/source" --cross-file "$work/cross.txt" --prefix="$prefix" \
    --libdir=lib --buildtype=release --default-library=static -Denable_tools=false \
    -Denable_tests=false -Denable_asm=true > "$work/build.log"
  ninja -C "$work/build" >> "$work/build.log"
  ninja -C "$work/build" install >> "$work/build.log"
}

build_libde265() {
  local work="$root/build/deps/libde265"
  deb_source libde265 "$work"
  cmake -S "$work/source" -B "$work/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=ON \
    -DENABLE_SDL=OFF -DENABLE_DECODER=OFF -DENABLE_ENCODER=OFF \
    -DCMAKE_SHARED_LINKER_FLAGS="$dll_link_flags $work/libde265.def" -Wno-dev > "$work/build.log"
  def_file LIBDE265_API libde265.dll "$work/build" "$work/libde265.def" \
    "$work/source/libde265/de265.h"
  cmake --build "$work/build" >> "$work/build.log"
  cmake --install "$work/build" >> "$work/build.log"
}

build_libheif() {
  local work="$root/build/deps/libheif"
  deb_source libheif "$work"
  cmake -S "$work/source" -B "$work/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=ON \
    -DENABLE_PLUGIN_LOADING=OFF -DWITH_EXAMPLES=OFF \
    -DWITH_LIBDE265=ON -DWITH_DAV1D=ON -DWITH_X265=OFF -DWITH_AOM_DECODER=OFF \
    -DWITH_AOM_ENCODER=OFF -DWITH_RAV1E=OFF -DWITH_SvtEnc=OFF \
    -DCMAKE_SHARED_LINKER_FLAGS="$dll_link_flags $work/libheif.def" -Wno-dev > "$work/build.log"
  def_file LIBHEIF_API libheif.dll "$work/build" "$work/libheif.def" "$work/source/libheif/heif.h"
  cmake --build "$work/build" >> "$work/build.log"
  cmake --install "$work/build" >> "$work/build.log"
}

[[ -f "$prefix/lib/libwebp.a" ]] || build_libwebp
[[ -f "$prefix/lib/libdav1d.a" ]] || build_dav1d
[[ -f "$prefix/bin/libde265.dll" ]] || build_libde265
build_libheif
for dll in libde265.dll libheif.dll; do
  imports=$("$triple-objdump" -p "$prefix/bin/$dll" | awk '/DLL Name:/ { print $3 }' | sort -u | tr '\n' ' ')
  echo "$dll imports: $imports"
done
echo "Photo codecs for Windows: $prefix"
