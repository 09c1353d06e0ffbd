#!/bin/sh
# The whole test suite, from a fresh Debian 12 machine: installs what is
# missing, then configures, builds and tests every preset: the Linux module
# (also on older and newer processor models under qemu), the 32- and 64-bit
# Windows DLLs (under wine, where the kernel runs their programs), the 32-bit
# module and the shipped 32-bit DLL under qemu-i386, the AddressSanitizer+UBSan
# and ThreadSanitizer builds, and a bounded run of the frame fuzzer.
set -eu
cd "$(dirname "$0")/.."
sh scripts/install-deps.sh

start=$(date +%s)
passed=0
log=$(mktemp)
trap 'rm -f "$log"' EXIT
# win32 comes before win64 and x86-32, which read its DLL.
for preset in native win32 win64 x86-32 asan tsan fuzz; do
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

# How the shipped 32-bit DLL was tested on this machine.
tests_of() { ctest --test-dir "$1" -N -R "$2" | sed -n 's/^Total Tests: //p'; }
echo "== the 32-bit DLL (build/win32/Quorvix.rpi):"
for model in pentium2 pentium3 Conroe Haswell; do
  echo "   $(tests_of build/x86-32 "^$model\.pe-loader\.") tests through the tests' PE loader under qemu-i386 -cpu $model"
done
if [ "$(tests_of build/win32 '^LoadLibrary\.')" -gt 0 ]; then
  echo "   $(tests_of build/win32 '^LoadLibrary\.') tests through LoadLibrary under 32-bit wine"
else
  echo "   not under 32-bit wine: this kernel runs no 32-bit code"
fi
echo "== every preset in $(($(date +%s) - start)) s"
echo "all presets: $passed passed, 0 failed"
