#!/usr/bin/env bash
# Korvela.exe imports each plug-in's registration function under the name the
# real plug-in library exports, and the stand-in face detection library
# exports exactly that name (so the host would load beside the real one).
# Usage: plugin_imports.sh WINDOWS_BIN_DIR
set -euo pipefail
bin=$1
objdump=x86_64-w64-mingw32-objdump
face='?FaceDetectionTflitePluginRegisterWithRegistrar@@YAXPEAUFlutterDesktopPluginRegistrar@@@Z'
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "PASS: $*"; }

# The names Korvela.exe imports from one library, one a line.
imports_from() {
  "$objdump" -p "$bin/Korvela.exe" | awk -v dll="$1" '
    /DLL Name:/ { inside = ($3 == dll); next }
    inside && /^\t[0-9a-f]+\t/ { print $3 }
    inside && /^$/ { inside = 0 }'
}
exports_of() {
  "$objdump" -p "$bin/$1" | awk '
    /\[Ordinal\/Name Pointer\] Table/ { inside = 1; next }
    inside && /^\t\[/ { print $3; next }
    inside { exit }'
}

[[ "$(imports_from face_detection_tflite_plugin.dll)" == "$face" ]] &&
  pass "Korvela.exe imports the Visual C++ name of the face detection plug-in" ||
  fail "face detection import: $(imports_from face_detection_tflite_plugin.dll)"
[[ "$(exports_of face_detection_tflite_plugin.dll)" == "$face" ]] &&
  pass "the stand-in face detection plug-in exports exactly that name" ||
  fail "face detection export: $(exports_of face_detection_tflite_plugin.dll)"
for entry in desktop_drop_plugin.dll:DesktopDropPluginRegisterWithRegistrar \
  file_selector_windows_plugin.dll:FileSelectorWindowsRegisterWithRegistrar \
  pdfx_plugin.dll:PdfxPluginRegisterWithRegistrar \
  screen_retriever_windows_plugin.dll:ScreenRetrieverWindowsPluginCApiRegisterWithRegistrar \
  url_launcher_windows_plugin.dll:UrlLauncherWindowsRegisterWithRegistrar \
  window_manager_plugin.dll:WindowManagerPluginRegisterWithRegistrar; do
  [[ "$(imports_from "${entry%%:*}")" == "${entry#*:}" ]] &&
    pass "${entry%%:*} imported by its C name" || fail "${entry%%:*}: $(imports_from "${entry%%:*}")"
done
(( failures == 0 ))
