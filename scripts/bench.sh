#!/usr/bin/env bash
# Times sheetsmith on two sets of 16 photos, each once as a 2 x 2 grid on 4
# pages and once as a 4 x 4 grid on 1 page, on the default page, and the
# same layouts made by a libvips pipeline; then 16 phone photos as HEIC and
# as AVIF, and the peak memory for 160 HEIC photos. Prints figures; asserts
# nothing.
#   real       photographs from Debian's mate-backgrounds, cut by
#              tools/make_photos to 4000 x 3000 and 3000 x 4000 (baseline,
#              quality 90) with a camera-like grain
#   synthetic  smooth drawn pictures of 4000 x 3000 (they decode faster)
# For each job: wall, CPU and system time, peak memory, the time per stage
# (summed over the workers), the 4 x 4 job on one core, and two peers with
# the ratio to each: a libvips pipeline (vipsthumbnail with shrink-on-load
# and a centre crop to the magnet, vips arrayjoin, vips embed with white,
# quality 95) and sharp 0.34 from the npm registry, installed under build/
# (scripts/sharp_pipeline.js: the same steps in one process, all pages at
# once), and how close each composer job came to its limit (its stages'
# processor time divided by the cores, against its wall time). Every
# program runs several times (5 unless --runs says otherwise):
# the line shown is its run of median wall time, followed by the wall time of
# every run, and the ratios are those of the medians; on a shared or virtual
# machine one run can be 10 % off its neighbours. Then the standard job
# again with every photo tagged Display P3 (tools/make_photos p3), converted
# to sRGB, against the untagged one, and the quick colour road's cost a
# pixel against Little CMS's (tools/convert_bench). Then the composer's page
# writer against libjpeg-turbo's encoder on the same pages (time and size at
# quality 95).
#   scripts/bench.sh          the native composer
#   scripts/bench.sh --runs N each program N times
#   scripts/bench.sh --wine   also the Windows build under Wine: sheetsmith.exe
#                             on the same jobs, a background grid job through
#                             Korvela.exe, and baking (16 JPEGs, and the same
#                             photos as phone HEICs)
#   scripts/bench.sh --phones only the phone photos (HEIC, AVIF) and the
#                             peak memory for 160 HEIC photos
#   scripts/bench.sh --quality
#                             instead of the timings: what decoding a JPEG at
#                             a reduced DCT scale costs a page, for the
#                             composer and for sharp, over a sweep of
#                             reductions: each of six real photos alone on a
#                             page of its magnet's size (quality 100), made
#                             from the JPEG and from the same photo decoded
#                             whole (a PNG), compared over RGB (PSNR of all
#                             six pages' values, and the largest 99.9th
#                             percentile of one page's differences)
#   scripts/bench.sh --against REV
#                             also builds the composer of git revision REV and
#                             compares its pages with these, page by page
#                             (largest difference, 99.9th percentile, mean)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
wine=false
quality=false
phones=false
against=""
runs=5
while (( $# > 0 )); do
  case $1 in
    --wine) wine=true ;;
    --quality) quality=true ;;
    --phones) phones=true ;;
    --runs) runs=${2:?--runs needs a count}; shift ;;
    --against) against=${2:?--against needs a revision}; shift ;;
    *) echo "unknown argument: $1" >&2; exit 2 ;;
  esac
  shift
done
bash scripts/setup.sh native
work=$root/build/bench
bench_packages=(mate-backgrounds libvips-tools util-linux libheif-examples libavif-bin)
missing=()
for package in "${bench_packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
if (( ${#missing[@]} > 0 )); then
  sudo=""
  [[ $(id -u) -eq 0 ]] || sudo=sudo
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
if [[ ! -d "$work/sharp/node_modules/sharp" ]]; then
  echo "Installing sharp 0.34 from the npm registry..."
  mkdir -p "$work/sharp"
  (cd "$work/sharp" && npm install --no-audit --no-fund --silent sharp@0.34 > /dev/null)
fi
cmake --preset native > /dev/null
cmake --build --preset native --target sheetsmith make_photos run_measured image_diff encode_bench convert_bench > /dev/null

mate=/usr/share/backgrounds/mate
mkdir -p "$work/synthetic" "$work/real" "$work/pages"
if [[ ! -f "$work/synthetic/bench_16.jpg" ]]; then
  echo "Making 16 synthetic photos of 4000 x 3000..."
  build/native/tools/make_photos bench "$work/synthetic"
fi
if [[ ! -f "$work/real/real_16.jpg" ]]; then
  echo "Cutting 16 photos of 4000 x 3000 and 3000 x 4000 from photographs..."
  build/native/tools/make_photos real "$work/real" "$mate/abstract/Elephants_5640x3172.jpg" \
    "$mate/nature/Wood.jpg" "$mate/nature/LadyBird.jpg" "$mate/nature/TwoWings.jpg" \
    "$mate/nature/Garden.jpg" "$mate/nature/Storm.jpg" "$mate/nature/RainDrops.jpg" \
    "$mate/nature/Aqua.jpg"
fi

if [[ ! -f "$work/real_p3/real_16.jpg" ]]; then
  mkdir -p "$work/real_p3"
  build/native/tools/make_photos p3 "$work/real" "$work/real_p3"
fi

# Phone photos: the real photos at a phone's 4032 x 3024 (the portrait ones
# turned to it, as a phone's sensor stores them), as HEICs of 512 x 512 tiles
# in a grid (heif-enc at quality 50: about 3 MB a photo, as a phone saves a
# 12 MP one; joined by tests/formats/heic_grid.py),
# and as AVIFs (avifenc, its default quality, speed 8).
phone_photos() {
  local photo base big
  mkdir -p "$work/heic" "$work/avif" "$work/phone_tmp"
  for photo in "$work/real"/real_??.jpg; do
    base=$(basename "$photo" .jpg)
    [[ -f "$work/heic/$base.heic" && -f "$work/avif/$base.avif" ]] && continue
    big="$work/phone_tmp/$base.v"
    if (( $(vipsheader -f height "$photo") > $(vipsheader -f width "$photo") )); then
      vips rot "$photo" "$work/phone_tmp/turned.v" d90
      vips resize "$work/phone_tmp/turned.v" "$big" 1.008
    else
      vips resize "$photo" "$big" 1.008
    fi
    vips extract_area "$big" "$work/phone_tmp/$base.png" 0 0 4032 3024
    vips embed "$work/phone_tmp/$base.png" "$work/phone_tmp/padded.v" 0 0 4096 3072 --extend copy
    local tiles=() x y
    for ((y = 0; y < 6; y++)); do
      for ((x = 0; x < 8; x++)); do
        vips extract_area "$work/phone_tmp/padded.v" "$work/phone_tmp/tile_$y$x.png" \
          $((x * 512)) $((y * 512)) 512 512
        heif-enc -q 50 "$work/phone_tmp/tile_$y$x.png" -o "$work/phone_tmp/tile_$y$x.heic" > /dev/null
        tiles+=("$work/phone_tmp/tile_$y$x.heic")
      done
    done
    python3 tests/formats/heic_grid.py "$work/heic/$base.heic" 8 6 4032 3024 "${tiles[@]}"
    avifenc -s 8 -j 2 "$work/phone_tmp/$base.png" "$work/avif/$base.avif" > /dev/null
  done
  rm -rf "$work/phone_tmp"
}

# The synthetic photos as phone HEICs of the same 512 x 512 tiles, for the
# host's bake of phone photos against the same photos as JPEGs.
synthetic_heics() {
  local photo base tmp
  mkdir -p "$work/synthetic_heic"
  for photo in "$work/synthetic"/bench_??.jpg; do
    base=$(basename "$photo" .jpg)
    [[ -f "$work/synthetic_heic/$base.heic" ]] && continue
    tmp=$(mktemp -d)
    vips embed "$photo" "$tmp/padded.v" 0 0 4096 3072 --extend copy
    local tiles=() x y
    for ((y = 0; y < 6; y++)); do
      for ((x = 0; x < 8; x++)); do
        vips extract_area "$tmp/padded.v" "$tmp/tile_$y$x.png" $((x * 512)) $((y * 512)) 512 512
        heif-enc -q 50 "$tmp/tile_$y$x.png" -o "$tmp/tile_$y$x.heic" > /dev/null
        tiles+=("$tmp/tile_$y$x.heic")
      done
    done
    python3 tests/formats/heic_grid.py "$work/synthetic_heic/$base.heic" 8 6 4000 3000 "${tiles[@]}"
    rm -rf "$tmp"
  done
}

photos_of() {  # photos_of SET
  case $1 in
    heic) ls "$work/heic"/real_??.heic ;;
    heic160) for i in 1 2 3 4 5 6 7 8 9 10; do ls "$work/heic"/real_??.heic; done ;;
    avif) ls "$work/avif"/real_??.avif ;;
    real) ls "$work/real"/real_??.jpg ;;
    real_p3) ls "$work/real_p3"/real_??.jpg ;;
    *) ls "$work/synthetic"/bench_??.jpg ;;
  esac
}

job() {  # job SET ROWS COLS PAGES FILE
  {
    printf '\xEF\xBB\xBF[settings]\nrows=%d\ncols=%d\n[images]\n' "$2" "$3"
    photos_of "$1"
    printf '[outputs]\n'
    for ((p = 1; p <= $4; p++)); do printf '%s\n' "$work/pages/$1_${2}x${3}_page$p.jpg"; done
  } > "$5"
}

# The same layout by libvips: magnets of the composer's cell size, pages of
# the default size with its left and top margins.
vips_pipeline() {  # vips_pipeline SET ROWS COLS PAGES CELL_W CELL_H
  local out="$work/vips_$1_${2}x${3}"
  rm -rf "$out" && mkdir -p "$out"
  local photos
  mapfile -t photos < <(photos_of "$1")
  vipsthumbnail --size "${5}x${6}" --smartcrop centre -o "$out/%s.v" "${photos[@]}"
  local files=("$out"/*.v) per=$(($2 * $3))
  for ((p = 0; p < $4; p++)); do
    vips arrayjoin "${files[*]:p*per:per}" "$out/joined$p.v" --across "$3"
    vips embed "$out/joined$p.v" "$out/page$((p + 1)).jpg[Q=95]" 18 16 1854 2445 --extend white
  done
}
# The same layout by sharp, installed for the benchmark under build/.
sharp_pipeline() {  # sharp_pipeline SET ROWS COLS PAGES CELL_W CELL_H
  local out="$work/sharp_$1_${2}x${3}"
  rm -rf "$out" && mkdir -p "$out"
  local photos
  mapfile -t photos < <(photos_of "$1")
  NODE_PATH="$work/sharp/node_modules" node "$root/scripts/sharp_pipeline.js" \
    "$2" "$3" "$4" "$5" "$6" "$out" "${photos[@]}"
}
export -f vips_pipeline sharp_pipeline photos_of
export work root

# The quality sweep: for each reduction, the composer's and sharp's pages from
# the JPEG against those from the PNG.
quality_sweep() {
  local dir=$work/quality photo base w h r cw ch
  mkdir -p "$dir"
  local photos=("$work/real"/real_0[1-6].jpg)
  : > "$dir/sharp_png_jobs"
  for photo in "${photos[@]}"; do
    base=$(basename "$photo" .jpg)
    [[ -f "$dir/$base.png" ]] || build/native/tools/make_photos png "$photo" "$dir/$base.png"
    [[ -f "$dir/${base}_sharp.png" ]] ||
      printf 'png\t%s\t%s\n' "$photo" "$dir/${base}_sharp.png" >> "$dir/sharp_png_jobs"
  done
  NODE_PATH="$work/sharp/node_modules" node scripts/sharp_quality.js "$dir/sharp_png_jobs"
  echo
  echo "== JPEG pages against pages of the photo decoded whole (six real photos, quality 100)"
  printf '  %-9s | %-26s | %-26s\n' reduction sheetsmith "sharp 0.34"
  for r in 1.2 1.5 2 2.5 2.9 3 3.3 4 4.5 5 6 7 8; do
    : > "$dir/ours.numbers"
    : > "$dir/sharp.numbers"
    : > "$dir/sharp_jobs"
    for photo in "${photos[@]}"; do
      base=$(basename "$photo" .jpg)
      w=$(vipsheader -f width "$photo")
      h=$(vipsheader -f height "$photo")
      cw=$(awk -v s="$w" -v r="$r" 'BEGIN { printf "%d", s / r + 0.5 }')
      ch=$(awk -v s="$h" -v r="$r" 'BEGIN { printf "%d", s / r + 0.5 }')
      for source in "$photo" "$dir/$base.png"; do
        local kind=${source##*.}
        printf '\xEF\xBB\xBF[settings]\nrows=1\ncols=1\npageWidth=%d\npageHeight=%d\nmarginLeft=0\nmarginRight=0\nmarginTop=0\nmarginBottom=0\njpegQuality=100\n[images]\n%s\n[outputs]\n%s\n' \
          "$cw" "$ch" "$source" "$dir/ours_${base}_$kind.jpg" > "$dir/job.txt"
        build/native/bin/sheetsmith "$dir/job.txt" > /dev/null 2>&1
      done
      build/native/tools/image_diff --numbers "$dir/ours_${base}_jpg.jpg" "$dir/ours_${base}_png.jpg" \
        >> "$dir/ours.numbers"
      printf '%d\t%d\t%s\t%s\n' "$cw" "$ch" "$photo" "$dir/sharp_${base}_jpg.jpg" >> "$dir/sharp_jobs"
      printf '%d\t%d\t%s\t%s\n' "$cw" "$ch" "$dir/${base}_sharp.png" "$dir/sharp_${base}_png.jpg" \
        >> "$dir/sharp_jobs"
    done
    NODE_PATH="$work/sharp/node_modules" node scripts/sharp_quality.js "$dir/sharp_jobs"
    for photo in "${photos[@]}"; do
      base=$(basename "$photo" .jpg)
      build/native/tools/image_diff --numbers "$dir/sharp_${base}_jpg.jpg" "$dir/sharp_${base}_png.jpg" \
        >> "$dir/sharp.numbers"
    done
    printf '  %-9s | %-26s | %-26s\n' "$r : 1" "$(pooled "$dir/ours.numbers")" "$(pooled "$dir/sharp.numbers")"
  done
}
# pooled FILE: the PSNR over every value of the lines of image_diff --numbers,
# and their largest 99.9th percentile.
pooled() {
  awk '{ if ($2 > p) p = $2; sse += $3; n += $4 }
       END { if (sse == 0) print "identical";
             else printf "%.1f dB, 99.9th %d", 10 * log(255 * 255 * n / sse) / log(10), p }' "$1"
}
if $quality; then
  quality_sweep
  exit 0
fi

wall() { sed -n 's/.*wall \([0-9]*\) ms.*/\1/p' "$1"; }

# measure OUT LABEL COMMAND...: runs COMMAND `runs` times through
# run_measured; OUT gets the line of the run of median wall time and the wall
# times of all runs, OUT.err the standard error of the last run and
# OUT.stages the composer's stage times line of the median run (when it
# printed one).
measure() {
  local out=$1 label=$2 i line
  shift 2
  : > "$out.runs"
  for ((i = 0; i < runs; i++)); do
    line=$(build/native/tools/run_measured "$label" "$@" 2> "$out.err" | grep -v '^OK$')
    printf '%s\t%s\t%s\n' "$(sed -n 's/.*wall \([0-9]*\) ms.*/\1/p' <<< "$line")" "$line" \
      "$(grep -m 1 'Stage times' "$out.err" || true)" >> "$out.runs"
  done
  sort -n "$out.runs" | sed -n "$(((runs + 1) / 2))p" > "$out.median"
  cut -f2 "$out.median" > "$out"
  cut -f3 "$out.median" > "$out.stages"
  echo "  runs: $(cut -f1 "$out.runs" | paste -sd' ') ms" >> "$out"
}
# limit OUT CORES: how close the median run of OUT came to the composer's own
# limit: the processor time its necessary stages took (decode at the chosen
# scales, turn, resize, effects, encode; each thread's own time, summed over
# the workers and the page writer's helpers) divided by the cores it ran on,
# against its wall time.
limit() {
  local stages
  stages=$(sed 's/^Sheetsmith: //' "$1.stages")
  awk -v line="$stages" -v wall="$(wall "$1")" -v cores="$2" 'BEGIN {
    n = split(line, fields, /[ =]/); sum = 0
    for (i = 1; i <= n; i++) if (fields[i] ~ /^[0-9]+ms$/) sum += fields[i] + 0
    if (sum == 0) exit
    printf "  limit %.0f ms (stages %.0f ms of processor time on %d core(s)), limit ratio %.2f\n",
      sum / cores, sum, cores, wall * cores / sum }'
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
# cpu_limit OUT CORES: the same against the whole process's processor time,
# for the HEIF jobs, whose decoders work on threads of their own that the
# stage clock does not see (libde265's worker, dav1d's).
cpu_limit() {
  awk -v line="$(cat "$1")" -v cores="$2" 'BEGIN {
    if (!match(line, /wall [0-9]+ ms/)) exit; wall = substr(line, RSTART + 5, RLENGTH - 8)
    if (!match(line, /CPU [0-9]+ ms/)) exit; cpu = substr(line, RSTART + 4, RLENGTH - 7)
    printf "  limit by the process'"'"'s processor time %.0f ms, limit ratio %.2f\n",
      cpu / cores, wall * cores / cpu }'
}

phone_jobs() {
  echo
  echo "Making 16 phone photos as HEIC and AVIF (once)..."
  phone_photos
  for set in heic avif; do
    echo
    echo "== phone photos as $set (4032 x 3024), 2x2 on 4 page(s)"
    job "$set" 2 2 4 "$work/job_${set}_2x2.txt"
    measure "$work/${set}2x2.out" "sheetsmith" env SHEETSMITH_TIMINGS=1 \
      build/native/bin/sheetsmith "$work/job_${set}_2x2.txt"
    cat "$work/${set}2x2.out"
    sed 's/^Sheetsmith: /  /' "$work/${set}2x2.out.stages"
    limit "$work/${set}2x2.out" "$(nproc)"
    cpu_limit "$work/${set}2x2.out" "$(nproc)"
    # Each photo's tiles side by side on one more thread, beside the workers.
    measure "$work/${set}2x2_threads.out" "sheetsmith, tiles on one more thread" \
      env SHEETSMITH_TIMINGS=1 SHEETSMITH_HEIF_THREADS=1 build/native/bin/sheetsmith "$work/job_${set}_2x2.txt"
    cat "$work/${set}2x2_threads.out"
    measure "$work/vips_${set}2x2.out" "libvips pipeline" \
      bash -c 'vips_pipeline "$@"' _ "$set" 2 2 4 909 1206
    cat "$work/vips_${set}2x2.out"
    peers="against libvips: $(ratio "$(wall "$work/${set}2x2.out")" "$(wall "$work/vips_${set}2x2.out")")"
    if [[ $set == avif ]]; then
      # sharp's own libvips reads AVIF (not HEIC, whose codec it leaves out).
      measure "$work/sharp_${set}2x2.out" "sharp" \
        bash -c 'sharp_pipeline "$@"' _ "$set" 2 2 4 909 1206
      cat "$work/sharp_${set}2x2.out"
      peers="$peers, against sharp: $(ratio "$(wall "$work/${set}2x2.out")" "$(wall "$work/sharp_${set}2x2.out")")"
    fi
    echo "  sheetsmith $peers"
  done
  echo
  echo "== peak memory for 16 and 160 HEIC photos (4x4 on 1 and 10 page(s))"
  job heic 4 4 1 "$work/job_heic_4x4.txt"
  job heic160 4 4 10 "$work/job_heic160_4x4.txt"
  for set in heic heic160; do
    build/native/tools/run_measured "sheetsmith, $set" build/native/bin/sheetsmith \
      "$work/job_${set}_4x4.txt" 2> /dev/null | grep -v '^OK$'
  done
}
if $phones; then
  echo "Machine: $(nproc) hardware threads"
  phone_jobs
  exit 0
fi

echo "Machine: $(nproc) hardware threads"
for set in real synthetic; do
  for grid in "2 2 4 909 1206" "4 4 1 454 603"; do
    read -r rows cols pages cellw cellh <<< "$grid"
    name="${rows}x${cols}"
    job "$set" "$rows" "$cols" "$pages" "$work/job_${set}_$name.txt"
    echo
    echo "== $set photos, $name on $pages page(s)"
    measure "$work/$set$name.out" "sheetsmith" env SHEETSMITH_TIMINGS=1 \
      build/native/bin/sheetsmith "$work/job_${set}_$name.txt"
    cat "$work/$set$name.out"
    sed 's/^Sheetsmith: /  /' "$work/$set$name.out.stages"
    limit "$work/$set$name.out" "$(nproc)"
    if [[ $name == 4x4 ]]; then
      measure "$work/${set}${name}_one.out" "sheetsmith on one core" \
        taskset -c 0 env SHEETSMITH_TIMINGS=1 build/native/bin/sheetsmith "$work/job_${set}_$name.txt"
      cat "$work/${set}${name}_one.out"
      limit "$work/${set}${name}_one.out" 1
      echo "  two cores against one: $(ratio "$(wall "$work/$set$name.out")" \
        "$(wall "$work/${set}${name}_one.out")")"
    fi
    measure "$work/vips_$set$name.out" "libvips pipeline" \
      bash -c 'vips_pipeline "$@"' _ "$set" "$rows" "$cols" "$pages" "$cellw" "$cellh"
    cat "$work/vips_$set$name.out"
    measure "$work/sharp_$set$name.out" "sharp" \
      bash -c 'sharp_pipeline "$@"' _ "$set" "$rows" "$cols" "$pages" "$cellw" "$cellh"
    cat "$work/sharp_$set$name.out"
    echo "  sheetsmith against libvips: $(ratio "$(wall "$work/$set$name.out")" \
      "$(wall "$work/vips_$set$name.out")"), against sharp: $(ratio "$(wall "$work/$set$name.out")" \
      "$(wall "$work/sharp_$set$name.out")")"
  done
done

echo
echo "== real photos tagged Display P3, 2x2 on 4 page(s), converted to sRGB"
job real_p3 2 2 4 "$work/job_real_p3_2x2.txt"
measure "$work/real_p32x2.out" "sheetsmith" env SHEETSMITH_TIMINGS=1 \
  build/native/bin/sheetsmith "$work/job_real_p3_2x2.txt"
cat "$work/real_p32x2.out"
sed 's/^Sheetsmith: /  /' "$work/real_p32x2.out.stages"
echo "  tagged against untagged: $(ratio "$(wall "$work/real_p32x2.out")" "$(wall "$work/real2x2.out")")"
echo "== the quick colour road, one phone photo of RGBA pixels"
build/native/tools/convert_bench

phone_jobs

echo
echo "== page writers on the real photos' 2x2 pages"
build/native/tools/encode_bench 95 "$work/pages"/real_2x2_page*.jpg | sed 1d

if [[ -n "$against" ]]; then
  echo
  echo "== pages against those of $against"
  tree=$work/against
  git worktree remove --force "$tree" > /dev/null 2>&1 || rm -rf "$tree"
  git worktree add --force --detach "$tree" "$against" > /dev/null 2>&1
  (cd "$tree" && cmake --preset native > /dev/null && cmake --build --preset native --target sheetsmith > /dev/null)
  mkdir -p "$work/against_pages"
  for set in real synthetic; do
    for name in 2x2 4x4; do
      sed "s|^$work/pages/|$work/against_pages/|" "$work/job_${set}_$name.txt" > "$work/against_job.txt"
      "$tree/build/native/bin/sheetsmith" "$work/against_job.txt" > /dev/null 2>&1
      for page in "$work/against_pages/${set}_${name}"_page*.jpg; do
        echo "  $(basename "$page"): $(build/native/tools/image_diff "$page" "$work/pages/$(basename "$page")" 255)"
      done
    done
  done
  git worktree remove --force "$tree"
fi

if $wine; then
  bash scripts/setup.sh
  synthetic_heics
  cmake --preset windows > /dev/null
  cmake --build --preset windows > /dev/null
  cmake --build --preset native --target host_bench > /dev/null
  # The same jobs with the paths as Wine's programs see them.
  for set in real synthetic; do
    for name in 2x2 4x4; do
      sed -e '/^\//{s|/|\\|g;s|^|Z:|}' "$work/job_${set}_$name.txt" > "$work/job_${set}_${name}_wine.txt"
    done
  done
  export WINEPREFIX
  WINEPREFIX=$(mktemp -d)/wine
  export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  xvfb-run -a -s "-screen 0 3840x2160x24" bash -c '
    mkdir -p "$WINEPREFIX" && wineserver -p && wineboot -i > /dev/null 2>&1
    for set in real synthetic; do
      for name in 2x2 4x4; do
        "$1/build/native/tools/run_measured" "sheetsmith.exe under Wine, $set $name" \
          "$1/cmake/wine-run.sh" "$1/build/windows/bin/sheetsmith.exe" \
          "Z:$2/job_${set}_${name}_wine.txt" 2> /dev/null | grep -v "^OK"
      done
    done
    KORVELA_WINDOWS_BIN="$1/build/windows/bin" KORVELA_WINE_RUN="$1/cmake/wine-run.sh" \
      "$1/build/native/tests/e2e/host_bench" "$2/synthetic" "$2/synthetic_heic"
    wineserver -k' _ "$root" "$work"
  rm -rf "$(dirname "$WINEPREFIX")"
fi
