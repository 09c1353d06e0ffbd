#!/bin/sh
# Installs, with apt-get, what building and testing Quorvix needs on Debian 12,
# skipping everything that is already there. Runs as root or through sudo.
set -eu

packages="cmake ninja-build g++ binutils libgtest-dev libbenchmark-dev
  g++-mingw-w64-i686-posix binutils-mingw-w64-i686
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine wine32:i386 wine64"
# 32-bit x86 Linux programs (the x86-32 preset) and qemu-user, which runs
# them and the tests on older and newer processor models without kernel
# support.
packages="$packages g++-multilib qemu-user-static"
# The sanitizer and fuzzing builds: clang with its runtimes, and llvm's
# symbolizer for readable reports.
packages="$packages clang-14 libclang-rt-14-dev llvm-14"
# The host tool: PNG (libspng, with zlib) and command-line (CLI11) libraries.
packages="$packages libspng-dev zlib1g-dev libcli11-dev"

# `install-deps.sh native`: only what the native preset needs, without the
# Windows cross compilers and wine.
if [ "${1:-}" = native ]; then
  packages=$(for p in $packages; do case "$p" in *mingw*|wine*) ;; *) echo "$p" ;; esac; done)
fi

missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
echo "installing:$missing"
case "$missing" in
  *:i386*) dpkg --print-foreign-architectures | grep -qx i386 || $SUDO dpkg --add-architecture i386 ;;
esac
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends $missing >/dev/null
