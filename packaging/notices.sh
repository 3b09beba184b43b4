#!/usr/bin/env bash
# Writes the release's third-party notices: every library linked into the two
# programs or shipped beside them, the version built, where its source is,
# and its licence text, taken from the very source tree (or Debian package)
# the Windows build used.
#   packaging/notices.sh OUT_FILE
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
deps="$root/build/deps"
out=$1
tmp="$out.tmp"

# The Debian version of a source tree scripts/deb_source.sh unpacked.
source_version() { dpkg-parsechangelog -l "$deps/$1/source/debian/changelog" -S Version; }
package_version() { dpkg-query -W -f '${Version}' "$1"; }
rule() { printf '%s\n' "------------------------------------------------------------------------"; }

# entry NAME VERSION USE SOURCE LICENCE_FILE...
entry() {
  local name=$1 version=$2 use=$3 source=$4
  shift 4
  rule
  printf '%s %s\n\n%s\n\nSource: %s\n\n' "$name" "$version" "$use" "$source"
  local file
  for file in "$@"; do
    [[ -s "$file" ]] || { echo "notices: no licence text at $file" >&2; exit 1; }
    cat "$file"
    echo
  done
}

# stb keeps its licence at the end of each header.
stb_licence() { sed -n '/^This software is available under 2 licenses/,$p' "$1"; }
# The GCC runtime's exception, from the cross compiler's copyright file.
gcc_exception() {
  awk '/^GCC RUNTIME LIBRARY EXCEPTION/ { inside = 1 }
       inside { print }
       inside && /requirements of the license of GCC\./ { exit }' \
    /usr/share/doc/gcc-mingw-w64-base/copyright
}

pieces=$(mktemp -d)
trap 'rm -rf "$pieces" "$tmp"' EXIT
stb_licence /usr/include/stb/stb_image.h > "$pieces/stb"
gcc_exception > "$pieces/gcc"

lgpl_replace() {
  cat <<TEXT
$1 is licensed under the GNU Lesser General Public License, version 3;
its text, and that of the GNU General Public License it adds to, follow in
the project's own COPYING file. It is shipped unmodified as its own library, $2, beside
Korvela.exe and sheetsmith.exe; $3 load it by that name when they start.
You may replace $2 with your own build of $1 from the source named here,
or a later compatible version: neither program needs to be rebuilt.
TEXT
}

{
  cat <<'TEXT'
Korvela: third-party notices

Korvela.exe and sheetsmith.exe are built with the libraries below. The
libraries marked "static" are linked into the programs; libheif.dll and
libde265.dll are shipped beside them. Each is listed with the version
built, where its source is, and its licence.

The Flutter engine (flutter_windows.dll), the plug-in libraries and the
interface's assets are added to this folder by the Flutter build, with
their own notices.
TEXT
  echo
  entry "libjpeg-turbo" "$(source_version libjpeg-turbo)" \
    "Static, in both programs: reads and writes JPEG. This software is based in part on the work of the Independent JPEG Group." \
    "Debian source package libjpeg-turbo $(source_version libjpeg-turbo) (https://libjpeg-turbo.org/)" \
    "$deps/libjpeg-turbo/source/LICENSE.md" "$deps/libjpeg-turbo/source/README.ijg"
  entry "Little CMS" "$(source_version lcms2)" \
    "Static, in both programs: converts colours between ICC profiles." \
    "Debian source package lcms2 $(source_version lcms2) (https://www.littlecms.com/)" \
    "$deps/lcms2/source/COPYING"
  entry "stb" "$(package_version libstb-dev)" \
    "Static, in both programs: stb_image reads PNG, BMP and GIF; stb_image_resize resamples." \
    "Debian source package libstb $(package_version libstb-dev) (https://github.com/nothings/stb)" \
    "$pieces/stb"
  entry "libwebp" "$(source_version libwebp)" \
    "Static, in both programs: reads WebP photos." \
    "Debian source package libwebp $(source_version libwebp) (https://chromium.googlesource.com/webm/libwebp)" \
    "$deps/libwebp/source/COPYING" "$deps/libwebp/source/PATENTS"
  entry "dav1d" "$(source_version dav1d)" \
    "Static, inside libheif.dll: decodes AVIF photos." \
    "Debian source package dav1d $(source_version dav1d) (https://code.videolan.org/videolan/dav1d)" \
    "$deps/dav1d/source/COPYING"
  lgpl_replace libheif libheif.dll "both programs" > "$pieces/heif"
  entry "libheif" "$(source_version libheif)" \
    "The DLL libheif.dll: reads HEIC and AVIF photos." \
    "Debian source package libheif $(source_version libheif), https://sources.debian.org/src/libheif/$(source_version libheif)/ (upstream https://github.com/strukturag/libheif)" \
    "$pieces/heif" "$deps/libheif/source/COPYING"
  lgpl_replace libde265 libde265.dll "libheif.dll and the programs through it" > "$pieces/de265"
  entry "libde265" "$(source_version libde265)" \
    "The DLL libde265.dll, loaded by libheif.dll: decodes HEVC (HEIC photos)." \
    "Debian source package libde265 $(source_version libde265), https://sources.debian.org/src/libde265/$(source_version libde265)/ (upstream https://github.com/strukturag/libde265)" \
    "$pieces/de265" "$deps/libde265/source/COPYING"
  entry "MinGW-w64 runtime and winpthreads" "$(package_version mingw-w64-x86-64-dev)" \
    "Static, in both programs and both DLLs: the C runtime start-up code and POSIX threads for Windows." \
    "Debian source package mingw-w64 $(package_version mingw-w64-x86-64-dev) (https://www.mingw-w64.org/)" \
    /usr/share/doc/mingw-w64-x86-64-dev/copyright
  entry "GCC runtime libraries (libgcc, libstdc++)" "$(package_version gcc-mingw-w64-x86-64-posix-runtime)" \
    "Static, in both programs and both DLLs: licensed under the GNU General Public License, version 3, with the GCC Runtime Library Exception below, which allows them in programs of any licence." \
    "Debian source package gcc-mingw-w64 $(package_version gcc-mingw-w64-x86-64-posix-runtime) (https://gcc.gnu.org/)" \
    "$pieces/gcc"
  rule
  echo "GNU General Public License, version 3 (which the GCC exception adds to)"
  echo
  cat /usr/share/common-licenses/GPL-3
} > "$tmp"
# Windows editors read it best with CR LF.
sed 's/$/\r/' "$tmp" > "$out"
