#!/usr/bin/env bash
# Makes the packages from the given build folders, unpacks them and runs what they install.
# usage: package_test.sh NATIVE_BUILD_DIR [KIND=BUILD_DIR ...]
#   kinds: windows, windows32, static, static-aarch64, deb-arm64, deb-armhf
set -euo pipefail
native=$1
shift
windows="" windows32="" static="" static_aarch64="" deb_arm64="" deb_armhf=""
for pair in "$@"; do
  case $pair in
    windows=*) windows=${pair#*=} ;;
    windows32=*) windows32=${pair#*=} ;;
    static=*) static=${pair#*=} ;;
    static-aarch64=*) static_aarch64=${pair#*=} ;;
    deb-arm64=*) deb_arm64=${pair#*=} ;;
    deb-armhf=*) deb_armhf=${pair#*=} ;;
    *) echo "unknown: $pair"; exit 2 ;;
  esac
done
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
# The service template and the rotation example (the unit itself runs in the systemd machine).
[ -f "$work/root/usr/lib/systemd/system/zentavol@.service" ] || fail "no zentavol@.service"
[ -f "$work/root/usr/share/doc/zentavol/logrotate.example" ] || fail "no logrotate example"
grep -q '^ExecStart=/usr/bin/zentavol --quiet --wait \$ZENTAVOL_OPTIONS ' \
  "$work/root/usr/lib/systemd/system/zentavol@.service" || fail "the unit's ExecStart"
dpkg-deb -I "$deb" postinst > /dev/null || fail "no postinst"

for program in zentavol-send zentavol-show; do
  out=$("$work/root/usr/bin/$program" --version)
  [ "$out" = "$program $(dpkg-deb -f "$deb" Version)" ] || fail "$program version: '$out'"
done

for page in zentavol zentavol-send zentavol-show; do
  file="$work/root/usr/share/man/man1/$page.1"
  [ -f "$file" ] || fail "no manual page $page.1"
  grep -q '@VERSION@' "$file" && fail "$page.1 still has its version placeholder"
  warnings=$(groff -ww -z -man "$file" 2>&1)
  [ -z "$warnings" ] || fail "$page.1: $warnings"
  rendered=$(MANWIDTH=80 man -l "$file" 2> "$work/man.err")
  [ -s "$work/man.err" ] && fail "$page.1: $(cat "$work/man.err")"
  grep -q 'EXIT STATUS' <<< "$rendered" || fail "$page.1 does not render"
done

# A Windows build's zip: the three programs, standalone, each with its version resource and its
# manifest, and the README.
check_windows() {
  local build=$1 arch=$2
  cpack --config "$build/CPackConfig.cmake" -G ZIP -B "$work/zip-$arch" > "$work/cpack.log" ||
    { cat "$work/cpack.log"; fail "cpack ZIP"; }
  local zip
  zip=$(ls "$work/zip-$arch"/*.zip)
  [ "$(basename "$zip")" = "zentavol-$version-windows-$arch.zip" ] || fail "zip named $zip"
  listing=$(cd "$work" && cmake -E tar tf "$zip")
  for entry in zentavol.exe zentavol-send.exe zentavol-show.exe README.txt; do
    grep -qx "$entry" <<< "$listing" || fail "zip lacks $entry: $listing"
  done
  for exe in zentavol.exe zentavol-send.exe zentavol-show.exe; do
    # Standalone: the programs import only the system's own DLLs, no compiler runtime.
    imports=$(x86_64-w64-mingw32-objdump -p "$build/$exe" | sed -n 's/.*DLL Name: //p')
    grep -qiv -E '^(kernel32|msvcrt|winmm|advapi32|api-ms-win-.*)\.dll$' <<< "$imports" &&
      fail "$exe needs DLLs beside it: $imports"
    headers=$(x86_64-w64-mingw32-objdump -p "$build/$exe")
    grep -q 'Resource Directory \[.rsrc\]' <<< "$headers" || fail "$exe has no resources"
    python3 - "$build/$exe" "$version" <<'PY' || fail "$arch $exe: version resource or manifest"
import sys
data = open(sys.argv[1], "rb").read()
name = sys.argv[1].rsplit("/", 1)[-1]
for text in ("ProductName", "zentavol", "ProductVersion", sys.argv[2], "FileDescription",
             "OriginalFilename", name):
    if text.encode("utf-16-le") not in data:
        sys.exit(f"no {text!r} in the version resource")
for text in (b'level="asInvoker"', b"<longPathAware", b"supportedOS",
             b"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"):
    if text not in data:
        sys.exit(f"no {text!r} in the manifest")
PY
  done
}
version=$(dpkg-deb -f "$deb" Version)
[ -n "$windows" ] && check_windows "$windows" x86_64
if [ -n "$windows32" ]; then
  check_windows "$windows32" x86
  kind=$(file "$windows32/zentavol.exe")
  grep -q 'PE32 executable.*Intel 80386' <<< "$kind" || fail "not a 32-bit program: $kind"
fi

# A static tarball: runs on its own (on aarch64 through qemu-user), with its manual pages and
# README.
check_static() {
  local build=$1 arch=$2 runner=${3:-}
  cpack --config "$build/CPackConfig.cmake" -G TGZ -B "$work/tgz-$arch" > "$work/cpack.log" ||
    { cat "$work/cpack.log"; fail "cpack TGZ"; }
  local tarball top="zentavol-$version-linux-$arch-static"
  tarball=$(ls "$work/tgz-$arch"/*.tar.gz)
  [ "$(basename "$tarball")" = "$top.tar.gz" ] || fail "tarball named $tarball"
  mkdir "$work/static-$arch" && tar -xzf "$tarball" -C "$work/static-$arch"
  local root="$work/static-$arch/$top"
  for entry in bin/zentavol bin/zentavol-send bin/zentavol-show share/man/man1/zentavol.1 \
    share/man/man1/zentavol-send.1 share/man/man1/zentavol-show.1 README.txt; do
    [ -e "$root/$entry" ] || fail "$arch tarball lacks $entry"
  done
  for program in zentavol zentavol-send zentavol-show; do
    kind=$(file "$root/bin/$program")
    grep -q 'statically linked' <<< "$kind" || fail "$program is not statically linked: $kind"
  done
  set +e
  out=$(env -i $runner "$root/bin/zentavol" 2>&1); status=$?
  set -e
  [ "$out" = "usage zentavol COM" ] && [ $status -eq 2 ] ||
    fail "static $arch zentavol without argument: status $status, output '$out'"
}
[ -n "$static" ] && check_static "$static" x86_64
[ -n "$static_aarch64" ] && check_static "$static_aarch64" aarch64 /usr/bin/qemu-aarch64-static
if [ -n "$static_aarch64" ]; then
  kind=$(file "$work/static-aarch64/zentavol-$version-linux-aarch64-static/bin/zentavol")
  grep -q 'ARM aarch64' <<< "$kind" || fail "the aarch64 tarball holds $kind"
fi

# The Debian packages for ARM: their architecture, and Depends computed from the binaries.
check_deb() {
  local build=$1 arch=$2
  cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/deb-$arch" > "$work/cpack.log" ||
    { cat "$work/cpack.log"; fail "cpack DEB $arch"; }
  local package
  package=$(ls "$work/deb-$arch"/*.deb)
  [ "$(basename "$package")" = "zentavol_${version}_$arch.deb" ] || fail "deb named $package"
  [ "$(dpkg-deb -f "$package" Architecture)" = "$arch" ] || fail "$package: wrong architecture"
  dpkg-deb -f "$package" Depends | grep -q 'libc6' || fail "$arch Depends not computed"
}
[ -n "$deb_arm64" ] && check_deb "$deb_arm64" arm64
[ -n "$deb_armhf" ] && check_deb "$deb_armhf" armhf
echo "packages ok"
