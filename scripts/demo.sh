#!/usr/bin/env bash
# Composes magnet sheets.
#   scripts/demo.sh                 sample photos made on the spot (several sizes,
#                                   portrait and landscape, one turned by EXIF,
#                                   one with effects, zoom and a frame)
#   scripts/demo.sh PHOTO_FOLDER    the photos of that folder, four to a page
# The pages are written to out/pages (or to the folder given as a second argument).
#   scripts/demo.sh --print [PHOTO_FOLDER]
#                                   the whole road under Wine: Korvela.exe composes
#                                   the pages as a background grid job and prints
#                                   them to a PDF printer of a private CUPS; the
#                                   pages and printed.pdf land in out/print
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

if [[ "${1:-}" == --print ]]; then
  bash scripts/setup.sh
  cmake --preset native > /dev/null
  cmake --build --preset native --target make_photos print_demo > /dev/null
  cmake --preset windows > /dev/null
  cmake --build --preset windows > /dev/null
  photos=${2:-}
  if [[ -z "$photos" ]]; then
    photos="$root/out/sample photos"
    mkdir -p "$photos"
    build/native/tools/make_photos demo "$photos"
  fi
  photos=$(realpath "$photos")
  work=$(mktemp -d)
  export WINEPREFIX="$work/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  export KORVELA_WINDOWS_BIN="$root/build/windows/bin" KORVELA_WINE_RUN="$root/cmake/wine-run.sh"
  stop() {
    bash "$root/scripts/print_bench.sh" stop "$work/print" 2> /dev/null || true
    wineserver -k 2> /dev/null || true
    [[ -n "${KORVELA_KEEP_DEMO:-}" ]] || rm -rf "$work"
  }
  trap stop EXIT
  bash scripts/print_bench.sh start "$work/print"
  source "$work/print/env"
  xvfb-run -a -s "-screen 0 3840x2160x24" bash -c '
    mkdir -p "$WINEPREFIX" && wineserver -p && wineboot -i > /dev/null 2>&1
    "$1/build/native/tests/e2e/print_demo" "$2" "$1/out/print"' _ "$root" "$photos"
  ls -1 "$root/out/print"
  exit 0
fi

bash scripts/setup.sh native
cmake --preset native > /dev/null
cmake --build --preset native --target sheetsmith make_photos > /dev/null

photos=${1:-}
pages=$(realpath -m "${2:-out/pages}")
mkdir -p "$pages" out
job="$root/out/demo_job.txt"

if [[ -z "$photos" ]]; then
  photos="$root/out/sample photos"
  mkdir -p "$photos"
  build/native/tools/make_photos demo "$photos"
  sed -e "s|@PHOTOS@|$photos|g" -e "s|@OUT@|$pages|g" -e "s|/עמוד |/page |g" \
    samples/job_template.txt > "$job"
  echo "Sample photos: $photos"
else
  photos=$(realpath "$photos")
  mapfile -t files < <(find "$photos" -maxdepth 1 -type f \
    -iregex '.*\.\(jpe?g\|png\|bmp\|gif\|tga\|psd\|pnm\|ppm\|pgm\)' | sort)
  if (( ${#files[@]} == 0 )); then
    echo "No photos (JPEG, PNG, BMP, GIF, TGA, PSD, PNM) in $photos" >&2
    exit 1
  fi
  {
    printf '\xEF\xBB\xBF[settings]\nrows=2\ncols=2\nshowCutGrid=1\n[images]\n'
    printf '%s\n' "${files[@]}"
    printf '[outputs]\n'
    for ((page = 1; page <= (${#files[@]} + 3) / 4; page++)); do
      printf '%s/page %d.jpg\n' "$pages" "$page"
    done
  } > "$job"
  echo "Photos: ${#files[@]} from $photos"
fi

build/native/bin/sheetsmith "$job"
echo "Pages written to: $pages"
ls -1 "$pages"
