#!/usr/bin/env bash
# Builds every configuration and runs every test:
#   native unit tests, the same under address and undefined-behaviour
#   sanitizers, bounded libFuzzer runs, and the Windows build under Wine.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/setup.sh || exit 1

# Everything runs on one virtual display, large enough for any window the
# tests make. Wine's desktop process starts with the prefix and must see it,
# or windows fall back to a small headless screen.
if [[ -z "${KORVELA_UNDER_XVFB:-}" ]]; then
  export KORVELA_UNDER_XVFB=1
  exec xvfb-run -a -s "-screen 0 3840x2160x24" bash "$0" "$@"
fi

passed=0
failed=0
failed_names=()
stage() {  # stage NAME COMMAND...
  local name=$1
  shift
  echo
  echo "=== $name"
  local began=$SECONDS
  if "$@"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    failed_names+=("$name")
  fi
  echo "--- $name: $((SECONDS - began)) s"
}

mkdir -p build
stage "native build" bash -c 'cmake --preset native >/dev/null && cmake --build --preset native'
stage "native unit tests" ctest --preset native
stage "photo formats" bash tests/formats/formats.sh build/native
stage "sanitizer build" bash -c 'cmake --preset native-asan >/dev/null && cmake --build --preset native-asan'
stage "sanitizer unit tests" ctest --preset native-asan
# Leaks inside the decoders under libheif are theirs (decoder_leaks.supp).
export LSAN_OPTIONS="suppressions=$root/imaging/fuzz/decoder_leaks.supp"
stage "photo formats, sanitizer build" bash tests/formats/formats.sh build/native-asan
stage "fuzz build" bash -c 'cmake --preset fuzz >/dev/null && cmake --build --preset fuzz'

# fuzz TARGET SEEDS RUNS [MAX_LEN [SECONDS]]: at most RUNS inputs, and at most
# SECONDS (0: no bound) for a target whose inputs grow slow once they reach
# a decoder (the targets' own stderr lines are dropped)
fuzz() {
  local corpus
  corpus=$(mktemp -d)
  "$(find build/fuzz -type f -name "$1" | head -n 1)" -seed=1 -runs="$3" -max_len="${4:-4096}" \
    -max_total_time="${5:-0}" -close_fd_mask=2 "$corpus" "$2" > "build/$1.log" 2>&1
  local code=$?
  grep -E "DONE|ERROR|SUMMARY" "build/$1.log" | tail -n 3
  rm -rf "$corpus"
  return $code
}
stage "fuzz job file reader" fuzz fuzz_job_file composer/fuzz/seeds/job 300000
stage "fuzz EXIF probe" fuzz fuzz_exif imaging/fuzz/seeds/exif 300000
stage "fuzz channel codec" fuzz fuzz_codec host/channels/fuzz/seeds 300000
# Photos of every kind, made on the spot, seed the photo and profile readers.
photo_seeds=$(mktemp -d)
coded_seeds=$(mktemp -d)
build/native/tools/make_photos seeds "$photo_seeds"
bash tests/formats/make_seeds.sh "$coded_seeds"
# Once its corpus reaches the decoders, this target runs about a hundred
# inputs a second: bounded at four minutes.
stage "fuzz HEIF, AVIF and WebP readers" fuzz fuzz_coded_photo "$coded_seeds" 100000 16384 240
cp "$coded_seeds"/* "$photo_seeds"
stage "fuzz photo loader" fuzz fuzz_photo "$photo_seeds" 50000
stage "fuzz colour profile reader" fuzz fuzz_icc "$photo_seeds" 300000
rm -rf "$photo_seeds" "$coded_seeds"

stage "windows build" bash -c 'cmake --preset windows >/dev/null && cmake --build --preset windows'
stage "plug-in import names" bash tests/wine/plugin_imports.sh build/windows/bin
stage "no aligned 32-byte moves" bash tests/wine/aligned_vector_moves.sh build/windows/bin

# One private Wine prefix for the whole run, with a persistent server.
export WINEPREFIX
WINEPREFIX=$(mktemp -d)/wine
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine_up() { mkdir -p "$WINEPREFIX" && wineserver -p && wineboot -i > "build/wineboot.log" 2>&1; }
# The print bench: a private CUPS that Wine's spooler reaches.
print_bench=$(dirname "$WINEPREFIX")/print
bench_up() { bash scripts/print_bench.sh start "$print_bench" && source "$print_bench/env"; }
cleanup() {
  bash scripts/print_bench.sh stop "$print_bench" 2>/dev/null || true
  wineserver -k 2>/dev/null || true
  rm -rf "$(dirname "$WINEPREFIX")"
}
trap cleanup EXIT
stage "wine prefix" wine_up
stage "print bench" bench_up
# A Hebrew locale of our own, so that a test can give Wine's programs the
# ANSI code page 1255.
export KORVELA_LOCPATH="$root/build/locales"
stage "hebrew locale" bash -c 'mkdir -p "$KORVELA_LOCPATH" && localedef -i he_IL -f UTF-8 "$KORVELA_LOCPATH/he_IL.UTF-8"'
stage "windows unit tests under Wine" ctest --preset windows
stage "windows composer under Wine" bash tests/wine/composer_under_wine.sh build/native build/windows
stage "photo formats under Wine" bash tests/formats/formats.sh build/native build/windows
stage "host end to end under Wine" \
  env KORVELA_WINDOWS_BIN="$root/build/windows/bin" KORVELA_NATIVE_BIN="$root/build/native/bin" \
    KORVELA_WINE_RUN="$root/cmake/wine-run.sh" \
  build/native/tests/e2e/host_e2e_tests
# The release zip, unpacked into a fresh prefix of its own.
stage "release package" bash tests/package/package_test.sh build/native build/windows

echo
if (( failed > 0 )); then
  echo "Failed stages: ${failed_names[*]}"
fi
echo "stages: $passed passed, $failed failed"
(( failed == 0 ))
