# Cross-build for Linux on armhf with Debian's cross compiler (package g++-arm-linux-gnueabihf); the tests run
# under qemu-user, with GoogleTest for the target from Debian's multiarch packages.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
# The multiarch libraries live under / itself.
set(CMAKE_FIND_ROOT_PATH /usr/arm-linux-gnueabihf /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Without -L: with the multiarch libc installed, a sysroot would mix two loaders.
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/qemu-arm-static)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE armhf)
# GCC notes an ABI change of GCC 7.1 in parameter passing on 32-bit ARM; everything here is built
# by one compiler, so the note says nothing about this project.
set(CMAKE_CXX_FLAGS_INIT -Wno-psabi)
