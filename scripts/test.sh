#!/bin/sh
# The whole test suite, from a fresh Debian 12 machine: installs what is
# missing, then configures, builds and tests every preset.
set -eu
cd "$(dirname "$0")/.."
sh scripts/install-deps.sh

for preset in native win32; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done
