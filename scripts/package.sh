#!/usr/bin/env bash
# Makes the Debian package (native Release build) and the Windows zip (mingw-w64 build).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DZENTAVOL_TESTS=OFF
cmake --build build-release -j 2
cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=Release -DZENTAVOL_WERROR=ON
cmake --build build-windows -j 2
mkdir -p dist
cpack --config build-release/CPackConfig.cmake -B dist
cpack --config build-windows/CPackConfig.cmake -B dist
rm -rf dist/_CPack_Packages
ls -l dist
