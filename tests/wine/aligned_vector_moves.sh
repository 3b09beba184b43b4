#!/usr/bin/env bash
# The Windows programs hold no aligned 32-byte vector move to or from memory:
# Windows aligns the stack to 16 bytes only, so such a move of a spilled
# register faults on about half the runs on Windows (never under Wine, whose
# stacks happen to be aligned to 32).
# Usage: aligned_vector_moves.sh WINDOWS_BIN_DIR
set -euo pipefail
bin=$1
failures=0
for program in sheetsmith.exe Korvela.exe; do
  found=$(x86_64-w64-mingw32-objdump -d "$bin/$program" |
    grep -E 'vmov(dqa|aps|apd|ntdq|ntps)[[:space:]]+[^,]*%ymm[^,]*,.*\(|vmov(dqa|aps|apd)[[:space:]]+[^,]*\(.*%ymm' || true)
  if [[ -n "$found" ]]; then
    echo "FAIL: $program has aligned 32-byte moves to or from memory:"
    echo "$found" | head -5
    failures=$((failures + 1))
  else
    echo "PASS: $program has no aligned 32-byte moves to or from memory"
  fi
done
exit "$failures"
