#!/usr/bin/env bash
# Installs what the build and the tests need and is not on the machine yet.
#   scripts/setup.sh          everything (native, sanitizers, fuzzing, Windows under Wine)
#   scripts/setup.sh native   only what the native build and the demo need
set -euo pipefail

native_packages=(cmake ninja-build g++ pkgconf libstb-dev libjpeg62-turbo-dev googletest liblcms2-dev
  libheif-dev libwebp-dev icc-profiles-free liblcms2-utils libgs-common
  libheif-examples libavif-bin webp python3)
all_packages=("${native_packages[@]}" clang-14 libclang-rt-14-dev
  g++-mingw-w64-x86-64-posix mingw-w64-tools binutils-mingw-w64-x86-64
  nasm meson dpkg-dev wine wine64 xvfb xauth locales
  cups-daemon cups-client printer-driver-cups-pdf poppler-utils python3-pefile)

wanted=("${all_packages[@]}")
[[ "${1:-}" == native ]] && wanted=("${native_packages[@]}")

missing=()
for package in "${wanted[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$package")
done
if (( ${#missing[@]} > 0 )); then
  echo "Installing: ${missing[*]}"
  sudo=""
  [[ $(id -u) -eq 0 ]] || sudo=sudo
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -q
  $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# libjpeg-turbo, Little CMS and the HEIF, AVIF and WebP readers for the
# Windows build, from Debian's source packages.
if [[ "${1:-}" != native ]]; then
  bash "$(dirname "$0")/libjpeg_turbo_mingw.sh"
  bash "$(dirname "$0")/lcms2_mingw.sh"
  bash "$(dirname "$0")/photo_codecs_mingw.sh"
fi
