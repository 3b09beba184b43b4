#!/usr/bin/env bash
# The Windows programs hold no aligned 32-byte vector move to or from memory
# in a function that does not align its own stack: Windows aligns the stack
# to 16 bytes only, so such a move of a spilled register faults on about half
# the runs on Windows (never under Wine, whose stacks happen to be aligned to
# 32). libjpeg-turbo's AVX2 routines align their frame themselves
# (and rsp, -32) and keep their aligned moves; their local labels show up as
# symbols "function.label" and belong to the function before them, unlike
# GCC's clones (.constprop, .isra, .part, .cold), which are functions of
# their own.
# Usage: aligned_vector_moves.sh WINDOWS_BIN_DIR
set -euo pipefail
bin=$1
failures=0
for program in sheetsmith.exe Korvela.exe; do
  found=$(x86_64-w64-mingw32-objdump -d "$bin/$program" | awk '
    /^[0-9a-f]+ <.*>:$/ {
      name = substr($2, 2, length($2) - 3)
      if (base != "" && index(name, base ".") == 1 &&
          substr(name, length(base) + 2) !~ /^(constprop|isra|part|cold|lto_priv|clone)/) next
      base = name; next
    }
    /and +\$0xffffffffffffffe0,%rsp/ { realigned[base] = 1 }
    /vmov(dqa|aps|apd|ntdq|ntps)[ \t]+[^,]*%ymm[^,]*,.*\(|vmov(dqa|aps|apd)[ \t]+[^,]*\(.*%ymm/ {
      moves[base] = moves[base] "\n  " $0
    }
    END { for (f in moves) if (!(f in realigned)) print f ":" moves[f] }')
  if [[ -n "$found" ]]; then
    echo "FAIL: $program has aligned 32-byte moves to or from memory on a stack it does not align:"
    echo "$found" | head -8
    failures=$((failures + 1))
  else
    echo "PASS: $program has no aligned 32-byte moves on a stack it does not align"
  fi
done
exit "$failures"
