#!/usr/bin/env bash
# Makes the packages from the given build folders, unpacks them and runs what they install.
# usage: package_test.sh NATIVE_BUILD_DIR [WINDOWS_BUILD_DIR]
set -euo pipefail
native=$1
windows=${2:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

cpack --config "$native/CPackConfig.cmake" -G DEB -B "$work/deb" > "$work/cpack.log" ||
  { cat "$work/cpack.log"; fail "cpack DEB"; }
deb=$(ls "$work"/deb/*.deb)
dpkg-deb -f "$deb" Depends | grep -q 'libc6' || fail "Depends not computed from the binaries"
dpkg-deb -f "$deb" Maintainer | grep -q . || fail "no maintainer"
dpkg -x "$deb" "$work/root"

set +e
out=$("$work/root/usr/bin/zentavol" 2>&1); status=$?
set -e
[ "$out" = "usage zentavol COM" ] && [ $status -eq 2 ] ||
  fail "installed zentavol without argument: status $status, output '$out'"
out=$("$work/root/usr/bin/zentavol-send" --version)
[ "$out" = "zentavol-send $(dpkg-deb -f "$deb" Version)" ] || fail "version: '$out'"

for page in zentavol zentavol-send; do
  file="$work/root/usr/share/man/man1/$page.1"
  [ -f "$file" ] || fail "no manual page $page.1"
  grep -q '@VERSION@' "$file" && fail "$page.1 still has its version placeholder"
  warnings=$(groff -ww -z -man "$file" 2>&1)
  [ -z "$warnings" ] || fail "$page.1: $warnings"
  rendered=$(MANWIDTH=80 man -l "$file" 2> "$work/man.err")
  [ -s "$work/man.err" ] && fail "$page.1: $(cat "$work/man.err")"
  grep -q 'EXIT STATUS' <<< "$rendered" || fail "$page.1 does not render"
done

if [ -n "$windows" ]; then
  cpack --config "$windows/CPackConfig.cmake" -G ZIP -B "$work/zip" > "$work/cpack.log" ||
    { cat "$work/cpack.log"; fail "cpack ZIP"; }
  listing=$(cd "$work" && cmake -E tar tf zip/*.zip)
  for entry in zentavol.exe zentavol-send.exe README.txt; do
    grep -qx "$entry" <<< "$listing" || fail "zip lacks $entry: $listing"
  done
  # Standalone: the programs import only the system's own DLLs, no compiler runtime.
  for exe in zentavol.exe zentavol-send.exe; do
    imports=$(x86_64-w64-mingw32-objdump -p "$windows/$exe" | sed -n 's/.*DLL Name: //p')
    grep -qiv -E '^(kernel32|msvcrt|winmm|advapi32|api-ms-win-.*)\.dll$' <<< "$imports" &&
      fail "$exe needs DLLs beside it: $imports"
  done
fi
echo "packages ok"
