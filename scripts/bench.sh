#!/usr/bin/env bash
# Times sheetsmith on the standard job: 16 photos of 4000 x 3000 (baseline
# JPEG, quality 90) on the default page and margins, once as a 2 x 2 grid on
# 4 pages and once as a 4 x 4 grid on 1 page. Prints figures; asserts nothing.
#   scripts/bench.sh          the native composer
#   scripts/bench.sh --wine   also the Windows build under Wine: a background
#                             grid job through Korvela.exe against
#                             sheetsmith.exe alone
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh native
cmake --preset native > /dev/null
cmake --build --preset native --target sheetsmith make_photos run_measured > /dev/null

work=build/bench
mkdir -p "$work/photos" "$work/pages"
if [[ ! -f "$work/photos/bench_16.jpg" ]]; then
  echo "Making 16 photos of 4000 x 3000..."
  build/native/tools/make_photos bench "$work/photos"
fi

job() {  # job ROWS COLS PAGES FILE
  {
    printf '\xEF\xBB\xBF[settings]\nrows=%d\ncols=%d\n[images]\n' "$1" "$2"
    for i in $(seq -w 1 16); do printf '%s\n' "$root/$work/photos/bench_$i.jpg"; done
    printf '[outputs]\n'
    for ((p = 1; p <= $3; p++)); do printf '%s\n' "$root/$work/pages/${1}x${2}_page$p.jpg"; done
  } > "$4"
}
job 2 2 4 "$work/job_2x2.txt"
job 4 4 1 "$work/job_4x4.txt"

echo "Machine: $(nproc) hardware threads"
for grid in 2x2 4x4; do
  SHEETSMITH_TIMINGS=1 build/native/tools/run_measured "sheetsmith $grid" \
    build/native/bin/sheetsmith "$work/job_$grid.txt" > "$work/$grid.out" 2> "$work/$grid.err"
  cat "$work/$grid.out" | grep -v '^OK$'
  grep -E "threads=|Stage times|Total time" "$work/$grid.err" | sed 's/^/  /'
done

if [[ "${1:-}" == --wine ]]; then
  bash scripts/setup.sh
  cmake --preset windows > /dev/null
  cmake --build --preset windows > /dev/null
  cmake --build --preset native --target host_bench > /dev/null
  export WINEPREFIX
  WINEPREFIX=$(mktemp -d)/wine
  export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  xvfb-run -a -s "-screen 0 3840x2160x24" bash -c '
    mkdir -p "$WINEPREFIX" && wineserver -p && wineboot -i > /dev/null 2>&1
    KORVELA_WINDOWS_BIN="$1/build/windows/bin" KORVELA_WINE_RUN="$1/cmake/wine-run.sh" \
      "$1/build/native/tests/e2e/host_bench" "$1/'"$work"'/photos"
    wineserver -k' _ "$root"
  rm -rf "$(dirname "$WINEPREFIX")"
fi
