#!/usr/bin/env bash
# Installs, through apt-get, whatever this machine lacks for a purpose:
#   install-deps.sh demo    a compiler, CMake and socat: what the demo needs
#   install-deps.sh         everything the builds and the tests need
# Further arguments name extra packages.
set -euo pipefail

demo=(cmake make g++ socat)
if [ "${1:-}" = demo ]; then
  shift
  packages=("${demo[@]}" "$@")
else
  packages=("${demo[@]}" libgtest-dev util-linux clang python3
    # Windows, 64- and 32-bit, and Wine to run both
    g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine wine64
    # Linux on ARM, tested under qemu-user with the target's GoogleTest
    g++-aarch64-linux-gnu g++-arm-linux-gnueabihf qemu-user-static
    libgtest-dev:arm64 libc6:arm64 libstdc++6:arm64 libgcc-s1:arm64
    libgtest-dev:armhf libc6:armhf libstdc++6:armhf libgcc-s1:armhf
    # code health, packages and manual pages
    clang-format clang-tidy cppcheck groff-base man-db dpkg-dev file
    # the emulated machine with real serial drivers
    qemu-system-x86 linux-image-amd64 busybox-static cpio "$@")
fi

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  # The multiarch packages need their architectures known first.
  for arch in arm64 armhf i386; do
    if printf '%s\n' "${missing[@]}" | grep -q ":$arch\$"; then
      dpkg --print-foreign-architectures | grep -qx "$arch" || dpkg --add-architecture "$arch"
    fi
  done
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}"
fi
