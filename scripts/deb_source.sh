#!/usr/bin/env bash
# Sourced by the scripts that build a library for Windows from Debian's own
# source package of the version the native build links.
#   deb_source PACKAGE DIR   unpacks PACKAGE's source into DIR/source (apt
#                            checks the tarball against the signed archive),
#                            adding the release's deb-src entries when apt
#                            has none
deb_source() {
  local package=$1 dir=$2 sudo=""
  [[ $(id -u) -eq 0 ]] || sudo=sudo
  # apt-get source needs the archive's source entries for this release.
  if ! apt-get source --print-uris "$package" > /dev/null 2>&1; then
    . /etc/os-release
    echo "Adding the source entries of Debian $VERSION_CODENAME"
    $sudo tee /etc/apt/sources.list.d/korvela-deb-src.sources > /dev/null <<SOURCES
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: $VERSION_CODENAME $VERSION_CODENAME-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
    $sudo apt-get update -q
  fi
  rm -rf "$dir"
  mkdir -p "$dir"
  (cd "$dir" && apt-get source -q --download-only "$package" && dpkg-source -q -x "$package"_*.dsc source)
}
