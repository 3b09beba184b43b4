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
  # apt-get source needs the archive's source entries for this release, the
  # security archive's among them: the native packages come from there when
  # it has a newer version.
  if ! apt-get source --print-uris "$package" > /dev/null 2>&1 ||
    ! grep -qs debian-security /etc/apt/sources.list.d/korvela-deb-src.sources; then
    . /etc/os-release
    echo "Adding the source entries of Debian $VERSION_CODENAME"
    $sudo tee /etc/apt/sources.list.d/korvela-deb-src.sources > /dev/null <<SOURCES
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: $VERSION_CODENAME $VERSION_CODENAME-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb-src
URIs: http://deb.debian.org/debian-security
Suites: $VERSION_CODENAME-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
    $sudo apt-get update -q
  fi
  rm -rf "$dir"
  mkdir -p "$dir"
  # The newest source first; where the security archive lists a version it
  # does not serve (it answers 404 here), the point release's.
  . /etc/os-release
  local wanted
  for wanted in "$package" "$package/$VERSION_CODENAME-updates" "$package/$VERSION_CODENAME"; do
    (cd "$dir" && apt-get source -q --download-only "$wanted") && break
    rm -f "$dir"/*
  done
  (cd "$dir" && dpkg-source -q -x "$package"_*.dsc source)
  # Which version each Windows build is of, for the release's notices.
  local version
  version=$(basename "$dir"/"$package"_*.dsc .dsc)
  mkdir -p "$(dirname "$dir")/mingw"
  { grep -v "^$package " "$(dirname "$dir")/mingw/versions.txt" 2>/dev/null || true
    echo "$package ${version#"$package"_}"; } > "$dir/versions.new"
  mv "$dir/versions.new" "$(dirname "$dir")/mingw/versions.txt"
  echo "$package: source ${version#"$package"_}"
}
