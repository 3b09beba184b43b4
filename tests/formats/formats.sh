#!/usr/bin/env bash
# Photos of every format a phone or a browser saves, made with each format's
# own tools, composed by sheetsmith onto a one-magnet page and compared with
# the page of a PNG of the pixels the photo should read as (its source, or
# what the format's reference decoder makes of it). Then the photos the
# composer cannot read, each named on its line, with the page still made.
# With a Windows build, the same under Wine, and a path of over 260
# characters.
# Usage: formats.sh BUILD_DIR [WINDOWS_BUILD_DIR]   (the tools from BUILD_DIR,
#        or from build/native when BUILD_DIR has none, as the sanitizer build)
set -euo pipefail
build=$1
windows=${2:-}
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
tools="$build/tools"
[[ -x "$tools/image_diff" ]] || tools="$root/build/native/tools"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
passes=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { passes=$((passes + 1)); }

src="$work/sources"
python3 "$here/make_sources.py" "$src"
# A JPEG photo with its pixels as a PNG, and the same JPEG carrying a
# Display P3 profile: the reference of a photo whose colours are P3 by nclx.
mkdir -p "$work/jpeg" "$work/p3"
mkdir -p "$work/demo"
"$tools/make_photos" demo "$work/demo" > /dev/null
cp "$work/demo/03 square.jpg" "$work/jpeg/square.jpg"
"$tools/make_photos" png "$work/jpeg/square.jpg" "$src/square.png"
"$tools/make_photos" p3 "$work/jpeg" "$work/p3" > /dev/null
cp "$work/p3/square.jpg" "$src/square_p3.jpg"

# A job of one photo on a one-magnet page.
job() {  # job PHOTO PAGE JOB
  cat > "$3" <<JOB
[settings]
rows=1
cols=1
pageWidth=360
pageHeight=240
marginLeft=0
marginRight=0
marginTop=0
marginBottom=0
jpegQuality=100
showCutGrid=0
magnetAspectRatio=1.5
[images]
$1
[outputs]
$2
JOB
}
compose() {  # compose PHOTO PAGE: the page, the console lines in PAGE.err
  job "$1" "$2" "$2.job"
  "$build/bin/sheetsmith" "$2.job" > "$2.out" 2> "$2.err"
}

lossless_heic=(heif-enc -L -p chroma=444 --matrix_coefficients=0)
# A HEIC of 3 x 2 tiles of 64 x 64, as a phone stores its photos in tiles,
# with the grid's turn and mirror when given.
heic_grid() {  # heic_grid [--irot A] [--imir M] OUT
  local tile
  for tile in "$src"/tile_?_?.png; do
    [[ -f "${tile%.png}.heic" ]] || "${lossless_heic[@]}" "$tile" -o "${tile%.png}.heic" > /dev/null
  done
  python3 "$here/heic_grid.py" "$@" 3 2 192 128 "$src"/tile_0_?.heic "$src"/tile_1_?.heic
}
e="$work/encoded"
mkdir -p "$e"
# name | how it is made (into $out) | the PNG it reads as | largest mean difference
cases=$(cat <<'CASES'
heic lossless|"${lossless_heic[@]}" "$src/source.png" -o "$out" && heif-convert --quiet "$out" "$out.ref.png"|REF|0.5
heic lossy|heif-enc -q 80 "$src/source.png" -o "$out" && heif-convert --quiet "$out" "$out.ref.png"|REF|0.5
heic named .jpg|"${lossless_heic[@]}" "$src/source.png" -o "$out.heic" && heif-convert --quiet "$out.heic" "$out.jpg.ref.png" && mv "$out.heic" "$out.jpg" && out="$out.jpg"|REF|0.5
heic grid|heic_grid "$out"|source.png|1.0
heic grid irot|heic_grid --irot 1 "$out"|turned_left.png|1.0
heic grid irot imir|heic_grid --irot 1 --imir 0 "$out"|transposed.png|1.0
heic grid imir|heic_grid --imir 1 "$out"|mirrored.png|1.0
heic 10-bit|"${lossless_heic[@]}" -b 10 "$src/deep.png" -o "$out"|deep_expected.png|0.5
heic alpha|"${lossless_heic[@]}" "$src/alpha.png" -o "$out" && heif-convert --quiet "$out" "$out.ref.png"|REF|0.5
heic icc|"${lossless_heic[@]}" "$src/adobe.png" -o "$out" && heif-convert --quiet "$out" "$out.ref.png"|REF|0.5
avif lossless|avifenc -l "$src/source.png" "$out.avif" > /dev/null && out="$out.avif"|source.png|0.5
avif grid|avifenc -l -g 3x2 "$src/source.png" "$out.avif" > /dev/null && out="$out.avif"|source.png|0.5
avif irot|avifenc -l --irot 1 "$src/source.png" "$out.avif" > /dev/null && out="$out.avif"|turned_left.png|0.5
avif imir|avifenc -l --imir 1 "$src/source.png" "$out.avif" > /dev/null && out="$out.avif"|mirrored.png|0.5
avif irot imir|avifenc -l --irot 1 --imir 0 "$src/source.png" "$out.avif" > /dev/null && out="$out.avif"|transposed.png|0.5
avif 10-bit|avifenc -l -d 10 "$src/deep.png" "$out.avif" > /dev/null && out="$out.avif"|deep_expected.png|0.5
avif alpha|avifenc -l "$src/alpha.png" "$out.avif" > /dev/null && out="$out.avif"|alpha.png|0.5
avif lossy|avifenc "$src/source.png" "$out.avif" > /dev/null && out="$out.avif" && avifdec "$out" "$out.ref.png" > /dev/null|REF|1.0
avif nclx p3|avifenc -l --cicp 12/13/0 "$src/square.png" "$out.avif" > /dev/null && out="$out.avif"|square_p3.jpg|1.0
avif pq|avifenc -l --cicp 9/16/0 "$src/pq_white.png" "$out.avif" > /dev/null && out="$out.avif"|white.png|6
avif sequence|avifenc -l "$src/source.png" "$src/mirrored.png" "$out.avif" > /dev/null && out="$out.avif"|source.png|0.5
webp lossless|cwebp -quiet -lossless "$src/source.png" -o "$out"|source.png|0.5
webp lossy|cwebp -quiet -q 80 "$src/source.png" -o "$out" && dwebp -quiet "$out" -o "$out.ref.png"|REF|0.5
webp alpha|cwebp -quiet -lossless -exact "$src/alpha.png" -o "$out"|alpha.png|0.5
webp icc|cwebp -quiet -lossless "$src/source.png" -o "$out.plain" && webpmux -set icc /usr/share/color/icc/compatibleWithAdobeRGB1998.icc "$out.plain" -o "$out"|adobe.png|0.5
webp exif 6|cwebp -quiet -lossless "$src/turned_left.png" -o "$out.plain" && webpmux -set exif "$src/exif6.tiff" "$out.plain" -o "$out"|source.png|0.5
webp animated|img2webp -lossless "$src/source.png" -d 100 "$src/mirrored.png" -o "$out" 2> /dev/null|source.png|0.5
CASES
)
while IFS='|' read -r name make reference limit; do
  out="$e/${name// /_}"
  if ! eval "$make" > "$work/make.log" 2>&1; then
    fail "$name: could not be made: $(tail -n 2 "$work/make.log")"
    continue
  fi
  # REF: what the format's reference decoder made of the photo.
  if [[ "$reference" == REF ]]; then reference="$out.ref.png"; else reference="$src/$reference"; fi
  compose "$out" "$work/page.jpg"
  compose "$reference" "$work/reference.jpg"
  if grep -q "Unreadable" "$work/page.jpg.err"; then
    fail "$name: $(grep Unreadable "$work/page.jpg.err")"
  elif result=$("$tools/image_diff" "$work/page.jpg" "$work/reference.jpg" "$limit"); then
    pass
  else
    fail "$name: the page differs from the reference's: $result"
  fi
  cp "$out" "$e/made_${name// /_}"
done <<< "$cases"

# Photos that cannot be read: each named on one line of a fixed form, its
# magnet white, the page still made, "OK" and exit code 0.
bad="$work/bad"
mkdir -p "$bad"
half() { head -c $(($(stat -c %s "$1") / 2)) "$1" > "$2"; }
half "$e/made_heic_lossy" "$bad/cut.heic"
half "$e/made_avif_lossy" "$bad/cut.avif"
half "$e/made_webp_lossy" "$bad/cut.webp"
half "$work/jpeg/square.jpg" "$bad/cut.jpg"
# Sizes claimed beyond the readers' limits: an ispe box's width and height;
# a WebP's canvas (VP8X, 24 bits each less one) and its picture's (14 bits
# each in the VP8 frame header, after the frame tag and start code).
claim_huge_ispe() {
  python3 - "$1" "$2" <<'PY'
import sys
data = bytearray(open(sys.argv[1], "rb").read())
at = data.find(b"ispe")
data[at + 8:at + 16] = (200000).to_bytes(4, "big") * 2
open(sys.argv[2], "wb").write(data)
PY
}
claim_huge_ispe "$e/made_heic_lossy" "$bad/huge.heic"
claim_huge_ispe "$e/made_avif_lossy" "$bad/huge.avif"
webpmux -set icc /usr/share/color/icc/sRGB.icc "$e/made_webp_lossy" -o "$bad/extended.webp" 2> /dev/null
python3 - "$bad/extended.webp" "$bad/huge.webp" <<'PY'
import sys
data = bytearray(open(sys.argv[1], "rb").read())
at = data.find(b"VP8X")
data[at + 12:at + 18] = (16383 - 1).to_bytes(3, "little") * 2
at = data.find(b"VP8 ")
data[at + 14:at + 18] = (16383).to_bytes(2, "little") * 2
open(sys.argv[2], "wb").write(data)
PY
echo "not a photo" > "$bad/notes.jpg"
: > "$bad/empty.heic"
bad_photos=("$bad/cut.heic" "$bad/cut.avif" "$bad/cut.webp" "$bad/cut.jpg" "$bad/huge.heic"
  "$bad/huge.avif" "$bad/huge.webp" "$bad/notes.jpg" "$bad/empty.heic" "$bad/missing.heic"
  "$src/source.png")
expected=(cut-short cut-short cut-short cut-short too-large too-large too-large unsupported
  cut-short missing "")
{ cat <<JOB
[settings]
rows=3
cols=4
pageWidth=800
pageHeight=600
showCutGrid=0
[images]
JOB
  printf '%s\n' "${bad_photos[@]}"
  printf '[outputs]\n%s\n' "$work/bad_page.jpg"
} > "$work/bad.job"
set +e
"$build/bin/sheetsmith" "$work/bad.job" > "$work/bad.out" 2> "$work/bad.err"
code=$?
set -e
[[ $code -eq 0 && "$(cat "$work/bad.out")" == OK && -s "$work/bad_page.jpg" ]] ||
  fail "the run of unreadable photos: exit code $code, output $(cat "$work/bad.out")"
for i in "${!bad_photos[@]}"; do
  line=$(grep "^Sheetsmith: Unreadable photo $i " "$work/bad.err" || true)
  if [[ -z "${expected[$i]}" ]]; then
    [[ -z "$line" ]] && pass || fail "a readable photo is named unreadable: $line"
  elif [[ "$line" =~ ^Sheetsmith:\ Unreadable\ photo\ $i\ ${expected[$i]}\ \([^\)]+\):\ (.*)$ &&
          "${BASH_REMATCH[1]}" == "${bad_photos[$i]}" ]]; then
    pass
  else
    fail "photo $i (${bad_photos[$i]##*/}): expected ${expected[$i]}, got: ${line:-no line}"
  fi
done

if [[ -n "$windows" ]]; then
  # Under Wine, through the DLLs beside sheetsmith.exe, from a folder whose
  # path is over 260 characters long, to a page there.
  to_windows() { printf 'Z:%s' "${1//\//\\}"; }
  deep="$work"
  for part in 1 2 3 4 5 6; do deep="$deep/a folder with a long name for the photos of summer $part"; done
  mkdir -p "$deep"
  for name in heic_lossless avif_grid webp_exif_6 heic_10-bit; do
    cp "$e/made_$name" "$deep/$name"
  done
  cp "$bad/cut.heic" "$deep/cut.heic"
  { cat <<JOB
[settings]
rows=1
cols=5
pageWidth=1500
pageHeight=200
showCutGrid=0
[images]
JOB
    for name in heic_lossless avif_grid webp_exif_6 heic_10-bit cut.heic; do
      to_windows "$deep/$name"; echo
    done
    printf '[outputs]\n'; to_windows "$deep/page.jpg"; echo
  } > "$work/wine.job"
  sed -e "s|Z:||" -e 's|\\|/|g' "$work/wine.job" > "$work/native.job"
  sed -i "s|$deep/page.jpg|$work/native_page.jpg|" "$work/native.job"
  page_path=$(to_windows "$deep/page.jpg")
  (( ${#page_path} > 260 )) || fail "the long path is only ${#page_path} characters"
  # A partial file of the page that a dead process of this machine (as Wine
  # names it) left, and a user's own: the run lists the long folder, and
  # removes the one and keeps the other.
  machine=$("$root/cmake/wine-run.sh" cmd /c "echo %COMPUTERNAME%" 2> /dev/null | tr -d '\r\n' |
    tr -c 'A-Za-z0-9' '_')
  echo "half a page" > "$deep/page.jpg.$machine-999999-1.partial"
  echo "a user's" > "$deep/notes.2024-06.partial"
  set +e
  "$root/cmake/wine-run.sh" "$windows/bin/sheetsmith.exe" "$(to_windows "$work/wine.job")" \
    > "$work/wine.out" 2> "$work/wine.err"
  code=$?
  set -e
  "$build/bin/sheetsmith" "$work/native.job" > /dev/null 2>&1
  if [[ $code -eq 0 && "$(tr -d '\r' < "$work/wine.out")" == OK && -s "$deep/page.jpg" ]] &&
     "$tools/image_diff" "$deep/page.jpg" "$work/native_page.jpg" 0.5 > "$work/wine.diff"; then
    pass
  else
    fail "sheetsmith.exe under Wine, long path (${#page_path} characters): exit code $code," \
      "$(tr -d '\r' < "$work/wine.out") $(cat "$work/wine.diff" 2>/dev/null)"
    tr -d '\r' < "$work/wine.err" | tail -n 5
  fi
  [[ ! -e "$deep/page.jpg.$machine-999999-1.partial" && -e "$deep/notes.2024-06.partial" ]] &&
    pass || fail "under Wine, in the long folder: $(cd "$deep" && ls ./*.partial 2>&1 | tr '\n' ' ')"
  line=$(tr -d '\r' < "$work/wine.err" | grep "^Sheetsmith: Unreadable photo 4 cut-short (" || true)
  [[ "$line" == *"): $(to_windows "$deep/cut.heic")" ]] && pass ||
    fail "under Wine, the cut-short photo's line: ${line:-none}"
fi

echo "formats: $passes passed, $failures failed"
[[ $failures -eq 0 ]]
