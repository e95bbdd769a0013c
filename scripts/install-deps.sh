#!/usr/bin/env bash
# Installs, through apt-get, whatever the build and the tests need and this machine lacks.
set -euo pipefail

packages=(cmake make g++ libgtest-dev socat util-linux g++-mingw-w64-x86-64-posix wine wine64
  clang-format clang-tidy cppcheck groff-base man-db dpkg-dev file
  qemu-system-x86 linux-image-amd64 busybox-static cpio python3 "$@")
missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}"
fi
