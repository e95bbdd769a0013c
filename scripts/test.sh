#!/usr/bin/env bash
# Builds everything with warnings as errors and runs every test: the code-health checks, the
# native build with its packages, the Windows programs under Wine, the same native tests under
# AddressSanitizer and UndefinedBehaviorSanitizer, and last, with the machine to themselves,
# statically linked programs on a Linux kernel's real serial drivers in an emulated machine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

jobs=2
cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=Release -DZENTAVOL_WERROR=ON
cmake --build build-windows -j "$jobs"

cmake -S . -B build-static -DCMAKE_BUILD_TYPE=Release -DZENTAVOL_WERROR=ON -DZENTAVOL_TESTS=OFF \
  -DCMAKE_EXE_LINKER_FLAGS=-static
cmake --build build-static -j "$jobs"

cmake -S . -B build -DCMAKE_BUILD_TYPE=Debug -DZENTAVOL_WERROR=ON \
  -DZENTAVOL_WINDOWS_BIN_DIR="$PWD/build-windows" -DZENTAVOL_STATIC_BIN_DIR="$PWD/build-static"
cmake --build build -j "$jobs"
scripts/lint.sh build
ctest --test-dir build --output-on-failure -j "$jobs" --timeout 300 --label-exclude guest

cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DZENTAVOL_WERROR=ON \
  -DZENTAVOL_SANITIZE=address,undefined
cmake --build build-sanitize -j "$jobs"
ctest --test-dir build-sanitize --output-on-failure -j "$jobs" --timeout 300

ctest --test-dir build --output-on-failure --label-regex guest
