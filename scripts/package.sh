#!/usr/bin/env bash
# Makes every package in dist/: the Debian packages for amd64, arm64 and armhf; the Windows zips,
# 64- and 32-bit; the statically linked Linux tarballs for x86_64 and aarch64.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

# Folders of its own under out/, so that the test run's builds keep their options.
package() {  # folder, then CMake options
  local folder=out/package/$1
  shift
  cmake -S . -B "$folder" -DCMAKE_BUILD_TYPE=Release -DZENTAVOL_TESTS=OFF -DZENTAVOL_WERROR=ON "$@"
  cmake --build "$folder" -j 2
  cpack --config "$folder/CPackConfig.cmake" -B dist
}
mkdir -p dist
package build-release
package build-release-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake
package build-release-armhf -DCMAKE_TOOLCHAIN_FILE=cmake/arm-linux-gnueabihf.cmake
package build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
package build-windows-x86 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake
package build-static -DZENTAVOL_STATIC=ON
package build-static-aarch64 -DZENTAVOL_STATIC=ON -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake
rm -rf dist/_CPack_Packages
ls -l dist
