#!/usr/bin/env bash
# Small HEIC, AVIF and WebP files of every kind the readers meet, whole, cut
# short, claiming huge sizes and with damaged picture data: the fuzzing
# seeds of the readers of those formats.
# Usage: make_seeds.sh DIR
set -euo pipefail
out=$1
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"
python3 "$here/make_sources.py" "$work"
s="$work/source.png"
heif-enc -q 20 "$s" -o "$out/lossy.heic" > /dev/null
heif-enc -q 20 "$work/alpha.png" -o "$out/alpha.heic" > /dev/null
heif-enc -q 20 "$work/adobe.png" -o "$out/icc.heic" > /dev/null
heif-enc -q 20 -b 10 "$work/deep.png" -o "$out/deep.heic" > /dev/null
for tile in "$work"/tile_?_?.png; do heif-enc -q 20 "$tile" -o "${tile%.png}.heic" > /dev/null; done
python3 "$here/heic_grid.py" --irot 3 --imir 1 "$out/grid.heic" 3 2 190 120 \
  "$work"/tile_0_?.heic "$work"/tile_1_?.heic
avifenc --min 40 --max 50 -s 10 "$s" "$out/lossy.avif" > /dev/null
avifenc --min 40 --max 50 -s 10 -g 3x2 "$s" "$out/grid.avif" > /dev/null
avifenc --min 40 --max 50 -s 10 --irot 1 --imir 0 --cicp 9/16/9 "$s" "$out/pq_turned.avif" > /dev/null
avifenc --min 40 --max 50 -s 10 "$s" "$work/mirrored.png" "$out/sequence.avif" > /dev/null
cwebp -quiet -q 20 "$s" -o "$out/lossy.webp"
cwebp -quiet -lossless -z 9 "$work/alpha.png" -o "$out/alpha.webp"
webpmux -set exif "$work/exif6.tiff" "$out/lossy.webp" -o "$work/exif.webp" > /dev/null 2>&1
webpmux -set icc /usr/share/color/icc/sRGB.icc "$work/exif.webp" -o "$out/exif_icc.webp" > /dev/null 2>&1
img2webp -lossy -q 20 "$s" -d 100 "$work/mirrored.png" -o "$out/animated.webp" 2> /dev/null
python3 - "$out" <<'PY'
import pathlib, sys
out = pathlib.Path(sys.argv[1])
for path in sorted(out.iterdir()):
    data = path.read_bytes()
    (out / ("cut_" + path.name)).write_bytes(data[: len(data) // 2])
    damaged = bytearray(data)
    for at in range(len(data) * 2 // 3, len(data), 97):
        damaged[at] ^= 0x5A
    (out / ("damaged_" + path.name)).write_bytes(damaged)
    at = data.find(b"ispe")
    if at > 0:
        huge = bytearray(data)
        huge[at + 8:at + 16] = (70000).to_bytes(4, "big") * 2
        (out / ("huge_" + path.name)).write_bytes(huge)
PY
