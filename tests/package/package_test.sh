#!/usr/bin/env bash
# The release as a user gets it: scripts/package.sh makes the zip, which is
# unpacked into a new folder and run in a fresh Wine prefix with nothing on
# WINEPATH. It holds the two programs, the DLLs they import and the notices,
# and nothing of the tests; every DLL a shipped file imports is a Windows
# system DLL, the Flutter engine or a plug-in, or is in the folder; both
# programs carry the project's version; sheetsmith.exe composes a JPEG and a
# HEIC as the native build does; and Korvela.exe, with the stand-in engine
# and plug-ins placed beside it, runs a background grid job and a bake.
# Usage: package_test.sh NATIVE_BUILD_DIR WINDOWS_BUILD_DIR
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
native=$(cd "$1" && pwd)
windows=$(cd "$2" && pwd)
work=$(mktemp -d)
failures=0
passes=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "PASS: $*"; passes=$((passes + 1)); }

zip=$(bash "$root/scripts/package.sh" 2> "$work/package.log" | tail -n 1) ||
  { cat "$work/package.log"; echo "FAIL: scripts/package.sh"; exit 1; }
name=$(basename "$zip" .zip)
version=${name#Korvela-}
version=${version%-windows-x64}
[[ "$name" =~ ^Korvela-[0-9]+\.[0-9]+\.[0-9]+-windows-x64$ ]] &&
  pass "the release is $name.zip" || fail "the zip's name: $zip"

mkdir "$work/unpacked"
(cd "$work/unpacked" && cmake -E tar xf "$zip")
folder="$work/unpacked/$name"
[[ -d "$folder" ]] || { fail "the zip has no folder $name"; ls -R "$work/unpacked"; exit 1; }
echo "Contents of $name.zip:"
(cd "$folder" && find . -type f -printf '  %P  %s bytes\n' | sort)
contents=$(cd "$folder" && find . -type f -printf '%P\n' | sort | tr '\n' ' ')
expected="Korvela.exe THIRD-PARTY-NOTICES.txt libde265.dll libheif.dll sheetsmith.exe "
[[ "$contents" == "$expected" ]] && pass "the folder holds the programs, their DLLs and the notices" ||
  fail "the folder holds: $contents"

# Windows' own DLLs; the engine and the plug-ins come with the Flutter build.
allowed=(kernel32.dll user32.dll gdi32.dll advapi32.dll shell32.dll shlwapi.dll ole32.dll
  oleaut32.dll comdlg32.dll comctl32.dll gdiplus.dll windowscodecs.dll dwmapi.dll winspool.drv
  msvcrt.dll ucrtbase.dll bcrypt.dll ws2_32.dll version.dll imm32.dll
  flutter_windows.dll desktop_drop_plugin.dll face_detection_tflite_plugin.dll
  file_selector_windows_plugin.dll pdfx_plugin.dll screen_retriever_windows_plugin.dll
  url_launcher_windows_plugin.dll window_manager_plugin.dll)
allowed_list=$(printf '%s\n' "${allowed[@]}")
shipped=$(ls "$folder" | tr 'A-Z' 'a-z')
for file in "$folder"/*.exe "$folder"/*.dll; do
  unmet=""
  for dll in $(x86_64-w64-mingw32-objdump -p "$file" | awk '/DLL Name:/ { print tolower($3) }'); do
    [[ "$dll" == api-ms-win-* ]] && continue
    grep -qxF "$dll" <<< "$allowed_list" || grep -qxF "$dll" <<< "$shipped" || unmet+=" $dll"
  done
  [[ -z "$unmet" ]] && pass "$(basename "$file") imports nothing the folder lacks" ||
    fail "$(basename "$file") imports$unmet"
done

# The version resources, as Windows' file properties read them.
for program in Korvela.exe sheetsmith.exe; do
  if result=$(/usr/bin/python3 - "$folder/$program" "$version" <<'PY'
import sys, pefile
path, version = sys.argv[1], sys.argv[2]
pe = pefile.PE(path)
fixed = pe.VS_FIXEDFILEINFO[0]
numbers = [fixed.FileVersionMS >> 16, fixed.FileVersionMS & 0xFFFF, fixed.FileVersionLS >> 16]
strings = {}
for info in pe.FileInfo[0]:
    for table in getattr(info, "StringTable", []):
        strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
wanted = {"ProductName": "Korvela", "ProductVersion": version, "FileVersion": version,
          "OriginalFilename": path.rsplit("/", 1)[1]}
wrong = [f"{k}={strings.get(k)!r}" for k, v in wanted.items() if strings.get(k) != v]
wrong += [k for k in ("FileDescription", "LegalCopyright") if not strings.get(k)]
if ".".join(map(str, numbers)) != version:
    wrong.append(f"fixed file version {numbers}")
print(", ".join(wrong))
sys.exit(1 if wrong else 0)
PY
  ); then
    pass "$program carries version $version in its version resource"
  else
    fail "$program version resource: $result"
  fi
done

missing_notices=""
for library in libjpeg-turbo "Little CMS" stb libwebp dav1d libheif libde265 MinGW-w64 \
  "GCC runtime" "Independent JPEG Group" "You may replace libheif.dll" \
  "You may replace libde265.dll" "GNU LESSER GENERAL PUBLIC LICENSE"; do
  grep -q "$library" "$folder/THIRD-PARTY-NOTICES.txt" || missing_notices+=" [$library]"
done
[[ -z "$missing_notices" ]] && pass "the notices name every library and the LGPL's terms" ||
  fail "the notices lack$missing_notices"

# A fresh prefix, with nothing on WINEPATH: the programs find only what the
# folder and Windows give them.
export WINEPREFIX="$work/prefix"
unset WINEPATH
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() { wineserver -k 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT
mkdir -p "$WINEPREFIX" && wineboot -i > "$work/wineboot.log" 2>&1
to_windows() { printf 'Z:%s' "${1//\//\\}"; }

shipped_version=$(wine "$folder/sheetsmith.exe" --version 2>&1 | tr -d '\r') || true
[[ "$shipped_version" == "sheetsmith $version" ]] && pass "sheetsmith.exe --version: $shipped_version" ||
  fail "sheetsmith.exe --version: $shipped_version"

photos="$work/photos"
mkdir -p "$photos/native pages" "$photos/pages" "$photos/made"
"$native/tools/make_photos" demo "$photos/made" > /dev/null
cp "$photos/made/01 landscape.jpg" "$photos/photo.jpg"
heif-enc -q 90 -o "$photos/photo.heic" "$photos/photo.jpg" > /dev/null
job() {  # job PHOTO_FOLDER PAGE_FOLDER
  printf '[settings]\nrows=1\ncols=2\npageWidth=1200\npageHeight=450\n'
  printf 'marginLeft=0\nmarginRight=0\nmarginTop=0\nmarginBottom=0\n'
  printf '[images]\n%s\n%s\n[outputs]\n%s\n' "$1photo.jpg" "$1photo.heic" "$2page.jpg"
}
job "$photos/" "$photos/native pages/" > "$photos/native job.txt"
w_photos=$(to_windows "$photos/")
job "$w_photos" "$(to_windows "$photos/pages/")" > "$photos/job.txt"
"$native/bin/sheetsmith" "$photos/native job.txt" > /dev/null 2>&1 || fail "native sheetsmith failed"
set +e
(cd "$work" && wine "$folder/sheetsmith.exe" "$(to_windows "$photos/job.txt")") \
  > "$work/sheetsmith.out" 2> "$work/sheetsmith.err"
code=$?
set -e
if [[ $code -eq 0 && "$(tr -d '\r' < "$work/sheetsmith.out")" == "OK" ]] &&
  ! grep -q "Unreadable" "$work/sheetsmith.err"; then
  pass "the shipped sheetsmith.exe read the JPEG and the HEIC"
else
  fail "the shipped sheetsmith.exe: exit code $code"; tr -d '\r' < "$work/sheetsmith.err"
fi
if [[ ! -f "$photos/pages/page.jpg" ]]; then
  fail "the shipped sheetsmith.exe wrote no page"
elif result=$("$native/tools/image_diff" "$photos/native pages/page.jpg" "$photos/pages/page.jpg" 0.5); then
  pass "its page is the native build's ($result)"
else
  fail "its page differs from the native build's: $result"
fi

# The Flutter build puts the engine and the plug-ins beside Korvela.exe; here
# they are the stand-ins.
cp "$windows/bin/flutter_windows.dll" "$windows/bin/"*_plugin.dll "$folder/"
# A skipped test would pass too: both must have run and passed.
KORVELA_WINDOWS_BIN="$folder" KORVELA_WINE_RUN="$root/cmake/wine-run.sh" \
  KORVELA_PACKAGE_PHOTOS="$photos" "$native/tests/package/shipped_host_tests" > "$work/host.log" 2>&1 || true
if grep -q '^\[  PASSED  \] 2 tests' "$work/host.log" && ! grep -q SKIPPED "$work/host.log"; then
  pass "Korvela.exe from the release folder ran a background grid job and a bake"
else
  fail "Korvela.exe from the release folder"; cat "$work/host.log"
fi

echo "$passes passed, $failures failed"
(( failures == 0 ))
