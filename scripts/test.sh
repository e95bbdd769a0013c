#!/usr/bin/env bash
# Builds everything with warnings as errors and runs every test: the code-health checks; the
# native build with every package; the Windows programs under Wine; the native tests under
# AddressSanitizer and UndefinedBehaviorSanitizer, and cross-built for arm64 and armhf under
# qemu-user; a build with clang++; and last, with the machine to themselves, statically linked
# programs on a Linux kernel's real serial drivers in an emulated machine.
#   test.sh --quick   the native build and its suite alone: no installs, no root (needs g++,
#                     CMake, GoogleTest and socat), for a contributor's turn
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${1:-}" = --quick ]; then
  cmake --preset dev > /dev/null
  cmake --build --preset dev -j 2
  # The packages are checked by the full run.
  exec ctest --preset dev --exclude-regex '^packages$'
fi

scripts/install-deps.sh

jobs=2
build() {  # folder, then CMake options
  local folder=$1
  shift
  cmake -S . -B "$folder" -DZENTAVOL_WERROR=ON "$@" > /dev/null
  cmake --build "$folder" -j "$jobs"
}

# Wine runs 32-bit programs only where the kernel runs 32-bit x86 programs at all; elsewhere
# wine32 would even take the place of the 64-bit loader. There the 32-bit programs are built and
# their package checked, not run.
wine32=OFF
scripts/install-deps.sh libc6:i386
if scripts/runs-x86-32.sh; then
  scripts/install-deps.sh wine32:i386
  wine32=ON
else
  echo "note: this kernel runs no 32-bit x86 programs; the 32-bit Windows programs are not run"
fi

build build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release
build build-windows-x86 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake -DCMAKE_BUILD_TYPE=Release
build build-static -DCMAKE_BUILD_TYPE=Release -DZENTAVOL_TESTS=OFF -DZENTAVOL_STATIC=ON
build build-static-aarch64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake \
  -DCMAKE_BUILD_TYPE=Release -DZENTAVOL_TESTS=OFF -DZENTAVOL_STATIC=ON
for target in aarch64-linux-gnu arm-linux-gnueabihf; do
  build "build-$target" -DCMAKE_TOOLCHAIN_FILE="cmake/$target.cmake" -DCMAKE_BUILD_TYPE=Debug
done
# A second compiler keeps the code honest about what is GCC's alone.
build build-clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug -DZENTAVOL_TESTS=OFF

build build -DCMAKE_BUILD_TYPE=Debug -DZENTAVOL_WINDOWS_BIN_DIR="$PWD/build-windows" \
  -DZENTAVOL_WINDOWS32_BIN_DIR="$PWD/build-windows-x86" -DZENTAVOL_WINE32=$wine32 \
  -DZENTAVOL_STATIC_BIN_DIR="$PWD/build-static" \
  "-DZENTAVOL_PACKAGE_BUILDS=static-aarch64=$PWD/build-static-aarch64;deb-arm64=$PWD/build-aarch64-linux-gnu;deb-armhf=$PWD/build-arm-linux-gnueabihf"
scripts/lint.sh build
ctest --test-dir build --output-on-failure -j "$jobs" --timeout 300 --label-exclude guest

build build-sanitize -DCMAKE_BUILD_TYPE=Debug -DZENTAVOL_SANITIZE=address,undefined
ctest --test-dir build-sanitize --output-on-failure -j "$jobs" --timeout 300

for target in aarch64-linux-gnu arm-linux-gnueabihf; do
  ctest --test-dir "build-$target" --output-on-failure -j "$jobs" --timeout 300
done

ctest --test-dir build --output-on-failure --label-regex guest
