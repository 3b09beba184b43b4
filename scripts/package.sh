#!/usr/bin/env bash
# Makes the Windows release: installs what is missing (scripts/setup.sh),
# builds the two programs and the notices in the Windows build, and packs the
# installed folder as build/package/Korvela-VERSION-windows-x64.zip. The
# zip's path is the last line printed.
#   scripts/package.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

# Everything but the zip's path goes to standard error.
bash scripts/setup.sh >&2
cmake --preset windows > /dev/null
cmake --build --preset windows --target Korvela sheetsmith korvela_notices >&2
mkdir -p build/package
# CPack installs into its own folder and packs it; it names the zip it made.
made=$(cd build/windows && cpack -G ZIP -B "$root/build/package" | tee /dev/stderr |
  sed -n 's/^CPack: - package: \(.*\) generated\.$/\1/p')
[[ -f "$made" ]] || { echo "package.sh: CPack made no zip" >&2; exit 1; }
echo "$made"
