#!/usr/bin/env bash
# The Windows sheetsmith.exe under Wine composes a job whose photos, frame
# and pages lie in a folder named with spaces and Hebrew letters, and writes
# the same pages as the native build of the same job.
# Usage: composer_under_wine.sh NATIVE_BUILD_DIR WINDOWS_BUILD_DIR
set -euo pipefail
native=$1
windows=$2
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
passes=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "PASS: $*"; passes=$((passes + 1)); }

folder="$work/תמונות קיץ"
mkdir -p "$folder/native pages" "$folder/windows pages"
"$native/tools/make_photos" demo "$folder"

# Unix paths for the native run; Wine maps drive Z: to the root folder.
to_windows() { printf 'Z:%s' "${1//\//\\}"; }
sed -e "s|@PHOTOS@|$folder|g" -e "s|@OUT@|$folder/native pages|g" "$here/../../samples/job_template.txt" \
  > "$folder/native job.txt"
win_photos=$(to_windows "$folder")
win_out=$(to_windows "$folder/windows pages")
# The job file the host writes starts with a byte order mark and uses LF.
{ printf '\xEF\xBB\xBF'
  sed -e "s|@PHOTOS@/|${win_photos//\\/\\\\}\\\\|g" -e "s|@OUT@/|${win_out//\\/\\\\}\\\\|g" \
    "$here/../../samples/job_template.txt"
} > "$folder/grid_config_1.txt"

"$native/bin/sheetsmith" "$folder/native job.txt" > "$work/native.out" 2> "$work/native.err" ||
  fail "native sheetsmith exited with $?"

set +e
"$here/../../cmake/wine-run.sh" "$windows/bin/sheetsmith.exe" "$(to_windows "$folder/grid_config_1.txt")" \
  > "$work/windows.out" 2> "$work/windows.err"
code=$?
set -e
tr -d '\r' < "$work/windows.out" > "$work/windows.out.lf"
tr -d '\r' < "$work/windows.err" > "$work/windows.err.lf"
if [[ $code -eq 0 && "$(cat "$work/windows.out.lf")" == "OK" ]]; then
  pass "sheetsmith.exe ended with OK and exit code 0"
else
  fail "sheetsmith.exe exit code $code, output: $(cat "$work/windows.out.lf")"
  cat "$work/windows.err.lf"
fi
if grep -q "^Sheetsmith: Config file: Z:.*תמונות קיץ.*grid_config_1.txt$" "$work/windows.err.lf"; then
  pass "the job file's Unicode path is echoed in UTF-8"
else
  fail "config file line: $(grep 'Config file' "$work/windows.err.lf" || true)"
fi
if grep -q "^Sheetsmith: Config parsed - 7 images, 2 outputs$" "$work/windows.err.lf" &&
   grep -q "^Sheetsmith: Saved page 2/2$" "$work/windows.err.lf" &&
   grep -q "^Sheetsmith TRANSFORM DEBUG: " "$work/windows.err.lf"; then
  pass "console lines of the run"
else
  fail "console lines"; cat "$work/windows.err.lf"
fi

for page in "עמוד 1.jpg" "עמוד 2.jpg"; do
  a="$folder/native pages/$page"
  b="$folder/windows pages/$page"
  if [[ ! -f "$b" ]]; then
    fail "page $page was not written by sheetsmith.exe"
  elif cmp -s "$a" "$b"; then
    pass "page $page is byte for byte the native page"
  elif result=$("$native/tools/image_diff" "$a" "$b" 0.5); then
    pass "page $page matches the native page within tolerance ($result)"
  else
    fail "page $page differs from the native page: $result"
  fi
done

# No MinGW runtime DLLs: the program imports system libraries and the codec
# DLLs that ship beside it, and those import system libraries and each other.
system='^(kernel32|msvcrt|ucrtbase|user32|advapi32|api-ms-win-.*)\.dll$'
for program in sheetsmith.exe libheif.dll libde265.dll; do
  imports=$(x86_64-w64-mingw32-objdump -p "$windows/bin/$program" | awk '/DLL Name:/ {print $3}')
  unexpected=$(grep -v -i -E "$system" <<< "$imports" | grep -v -E '^(libheif|libde265)\.dll$' || true)
  if [[ -z "$unexpected" ]]; then
    pass "$program imports only system DLLs and the codec DLLs ($(echo $imports))"
  else
    fail "$program needs $unexpected"
  fi
done

echo "wine composer: $passes passed, $failures failed"
[[ $failures -eq 0 ]]
