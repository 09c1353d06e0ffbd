#!/bin/sh
# The whole test suite, from a fresh Debian 12 machine: installs what is
# missing, then configures, builds and tests every preset: the Linux module,
# the 32- and 64-bit Windows DLLs under wine, the AddressSanitizer+UBSan and
# ThreadSanitizer builds, and a bounded run of the frame fuzzer.
set -eu
cd "$(dirname "$0")/.."
sh scripts/install-deps.sh

start=$(date +%s)
passed=0
log=$(mktemp)
trap 'rm -f "$log"' EXIT
for preset in native win32 win64 asan tsan fuzz; do
  echo "== $preset"
  t0=$(date +%s)
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" --parallel 2
  ctest --preset "$preset" --output-log "$log"
  # The wine presets' persistent wineserver and services end with the run.
  if [ -d "build/$preset/wineprefix" ]; then
    WINEPREFIX="$PWD/build/$preset/wineprefix" wineserver -k 2>/dev/null || true
  fi
  count=$(sed -n 's/.*tests passed, 0 tests failed out of \([0-9]*\).*/\1/p' "$log" | tail -1)
  passed=$((passed + ${count:-0}))
  echo "== $preset: ${count:-0} tests in $(($(date +%s) - t0)) s"
done
echo "== every preset in $(($(date +%s) - start)) s"
echo "all presets: $passed passed, 0 failed"
