#!/usr/bin/env bash
# Code health: formatting, clang-tidy and cppcheck over the sources, all clean or failing.
# usage: lint.sh BUILD_DIR   (a native build configured with compile commands)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$1

mapfile -t sources < <(git ls-files '*.cpp' '*.h')
clang-format --dry-run -Werror "${sources[@]}"

# The Windows backend and its test program need the Windows headers, which clang-tidy does not have here; the
# mingw-w64 build checks it with warnings as errors instead.
mapfile -t tidy_sources < <(git ls-files 'port/*.cpp' 'cli/*.cpp' 'receiver/*.cpp' 'sender/*.cpp' 'show/*.cpp' \
  'tests/*.cpp' | grep -v -e '_windows\.cpp$' -e '^tests/windows/control_block_test\.cpp$')
clang-tidy -p "$build" --quiet --header-filter='(port|cli|receiver|sender|show|tests)/.*' \
  "${tidy_sources[@]}" 2> "$build/clang-tidy.log" ||
  { cat "$build/clang-tidy.log"; exit 1; }

# The test sources are left out: cppcheck does not expand the GoogleTest macros.
cppcheck --enable=warning,style,performance,portability --std=c++20 --error-exitcode=1 \
  --inline-suppr --quiet -I port -I cli -I receiver -I sender -I show port cli receiver sender show
echo "lint clean"
