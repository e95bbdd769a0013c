#!/usr/bin/env bash
# Installs, through apt-get, whatever this machine lacks for a purpose:
#   install-deps.sh demo    a compiler, CMake and socat: what the demo needs
#   install-deps.sh         everything the builds and the tests need
# Further arguments name extra packages.
set -euo pipefail

demo=(cmake make g++ socat)
full=true
if [ "${1:-}" = demo ]; then
  shift
  full=false
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
    qemu-system-x86 linux-image-amd64 busybox-static cpio
    # the second emulated machine: a minimal Debian with systemd as PID 1
    mmdebstrap zstd "$@")
fi

is_installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

# wine64 recommends wine32, and apt takes it from any foreign architecture it knows (armhf, for
# the cross tests). Only an i386 one on a kernel that runs 32-bit x86 programs can work: any
# other takes the place of the 64-bit loader, and then no Windows program runs at all.
unwanted_wine32() {
  local arch
  "$full" || return 0
  for arch in $(dpkg --print-foreign-architectures); do
    if [ "$arch" = i386 ] && "$(dirname "$0")/runs-x86-32.sh"; then
      continue
    fi
    echo "wine32:$arch"
  done
}

missing=()
for package in "${packages[@]}"; do
  is_installed "$package" || missing+=("$package")
done
misplaced=()
for package in $(unwanted_wine32); do
  is_installed "$package" && misplaced+=("$package")
done
if [ ${#missing[@]} -gt 0 ] || [ ${#misplaced[@]} -gt 0 ]; then
  [ ${#missing[@]} -eq 0 ] || echo "installing: ${missing[*]}"
  [ ${#misplaced[@]} -eq 0 ] || echo "removing: ${misplaced[*]}"
  export DEBIAN_FRONTEND=noninteractive
  # The multiarch packages need their architectures known first.
  for arch in arm64 armhf i386; do
    if printf '%s\n' "${missing[@]}" | grep -q ":$arch\$"; then
      dpkg --print-foreign-architectures | grep -qx "$arch" || dpkg --add-architecture "$arch"
    fi
  done
  apt-get update -qq
  # A trailing "-" tells apt-get to leave the package out (or remove it) in the same step.
  keep_out=()
  for package in $(unwanted_wine32); do
    if apt-cache show "$package" > /dev/null 2>&1; then
      keep_out+=("$package-")
    fi
  done
  apt-get install -y -qq "${missing[@]}" "${keep_out[@]}"
fi
