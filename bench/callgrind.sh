#!/bin/sh
# Instructions per source pixel for one frame with each kernel, for the whole
# RenderPluginOutput call and for the textbook Scale2x, counted by valgrind's
# callgrind: a count, not a time, so it repeats exactly on a busy machine.
# valgrind cannot run AVX-512 code (it hides AVX-512 from CPUID, so neither
# the avx512 kernel nor a call selecting it runs under it).
#
#   sh bench/callgrind.sh [BUILD_DIR] [WxH]     (defaults: build/native 320x240)
set -eu
dir=${1:-build/native}
size=${2:-320x240}
pixels=$(( ${size%x*} * ${size#*x} ))
out=$(mktemp)
trap 'rm -f "$out"' EXIT
printf '%-10s %12s %10s\n' what instructions per-pixel
for what in reference mmx sse2 avx2 avx512 call textbook; do
  # Only what runs inside the measured lambdas of bench_loop's Measures().
  if valgrind --tool=callgrind --callgrind-out-file="$out" --toggle-collect='*Measures*' \
      "$dir/bench_loop" --once "$what" "$size" >/dev/null 2>&1; then
    ir=$(callgrind_annotate "$out" | awk '/PROGRAM TOTALS/ { gsub(",", "", $1); print $1 }')
    awk -v w="$what" -v ir="$ir" -v px="$pixels" 'BEGIN { printf "%-10s %12d %10.2f\n", w, ir, ir / px }'
  else
    printf '%-10s %12s\n' "$what" "not run (not in this build, or not runnable under valgrind)"
  fi
done
