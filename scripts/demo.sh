#!/bin/sh
# Quorvix at work, from a fresh Debian 12 machine: installs what the native
# build needs when it is missing, builds the module and the host tool, and
# enlarges the bundled pixel-art sample with them.
set -eu
cd "$(dirname "$0")/.."
sh scripts/install-deps.sh native

cmake --preset native >/dev/null
cmake --build --preset native --target quorvix quorvix-host

host=build/native/quorvix-host
out=build/demo
mkdir -p "$out"
"$host" info
"$host" scale samples/sample.png "$out/sample-2x.png" --compare "$out/sample-2x-compare.png"
"$host" scale samples/sample.png "$out/sample-4x.png" --times 2 --compare "$out/sample-4x-compare.png"
echo
echo "Enlarged sample:      $out/sample-2x.png (2x), $out/sample-4x.png (4x: two passes)"
echo "Comparison pictures:  $out/sample-2x-compare.png, $out/sample-4x-compare.png"
echo "                      (left: plain pixel doubling, right: Quorvix)"
