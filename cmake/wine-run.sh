#!/usr/bin/env bash
# Runs a Windows program under Wine with the test run's private prefix.
# The test script creates the prefix and exports WINEPREFIX; when it is
# missing (a developer running ctest by hand) a prefix under build/ is used.
set -euo pipefail
: "${WINEPREFIX:=$(cd "$(dirname "$0")/.." && pwd)/build/wineprefix}"
export WINEPREFIX
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
exec wine "$@"
