#!/usr/bin/env bash
# Builds everything with warnings as errors and runs every test: the code-health checks, the
# native build with its packages, the Windows programs under Wine, and the same native tests
# under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

jobs=2
cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=Release -DZENTAVOL_WERROR=ON
cmake --build build-windows -j "$jobs"

cmake -S . -B build -DCMAKE_BUILD_TYPE=Debug -DZENTAVOL_WERROR=ON \
  -DZENTAVOL_WINDOWS_BIN_DIR="$PWD/build-windows"
cmake --build build -j "$jobs"
scripts/lint.sh build
ctest --test-dir build --output-on-failure -j "$jobs" --timeout 300

cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DZENTAVOL_WERROR=ON \
  -DZENTAVOL_SANITIZE=address,undefined
cmake --build build-sanitize -j "$jobs"
ctest --test-dir build-sanitize --output-on-failure -j "$jobs" --timeout 300
