#!/usr/bin/env bash
# A rebranded 32-bit launcher.exe built from scratch: its file name, version
# texts and icon are the ones configured (texts with quotes, backslashes and
# letters beyond ASCII included), and CPack names and fills its zip after it.
# Usage: rebrand_build_test.sh SOURCE_DIR SCRATCH_DIR
set -euo pipefail
source_dir=$1 scratch=$2
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$scratch"
mkdir -p "$scratch/files"
fail() { echo "FAIL: $*" >&2; exit 1; }

# An icon of the test's own: a green disc, in two sizes.
cat >"$scratch/files/disc.svg" <<'SVG'
<svg xmlns="http://www.w3.org/2000/svg" width="64" height="64"><circle cx="32" cy="32" r="30" fill="#16a34a"/></svg>
SVG
for size in 16 32; do
  rsvg-convert -w $size -h $size -o "$scratch/files/$size.png" "$scratch/files/disc.svg"
done
icotool -c -o "$scratch/files/disc.ico" "$scratch/files/16.png" "$scratch/files/32.png"

exe_name="Quarvén Start"
product='Quarvén "Desktop"; C:\Tools\'
company="Société Exemple"
description="Démarre Quarvén & ses <outils>"
version=2.4.1.312
cmake -S "$source_dir" -B "$scratch/build" -G Ninja -DCMAKE_BUILD_TYPE=MinSizeRel \
  "-DCMAKE_TOOLCHAIN_FILE=$source_dir/cmake/mingw-w64-i686.cmake" \
  "-DLAUNCHER_EXE_NAME=$exe_name" "-DLAUNCHER_PRODUCT_NAME=$product" \
  "-DLAUNCHER_COMPANY_NAME=$company" "-DLAUNCHER_FILE_DESCRIPTION=$description" \
  "-DLAUNCHER_ICON=$scratch/files/disc.ico" "-DLAUNCHER_VERSION=$version" >/dev/null
cmake --build "$scratch/build" --target launcher

exe="$scratch/build/$exe_name.exe"
[ -f "$exe" ] || fail "\"$exe_name.exe\" was not built: $(ls "$scratch/build")"
"$here/check_exe_resources.sh" "$exe" "$scratch/files/disc.ico" \
  "ProductName=$product" "CompanyName=$company" "FileDescription=$description" \
  "InternalName=$exe_name" "OriginalFilename=$exe_name.exe" "FileVersion=$version" \
  "ProductVersion=$version"
# The version's numbers as Windows compares them, and the manifest's identity.
numbers=$(wrestool -x --raw --type=16 "$exe" | python3 -c '
import struct, sys
data = sys.stdin.buffer.read()
at = data.index(b"\xbd\x04\xef\xfe")
fms, fls, pms, pls = struct.unpack_from("<4I", data, at + 8)
print(*(f"{v >> 16}.{v & 0xFFFF}" for v in (fms, fls, pms, pls)))')
[ "$numbers" == "2.4 1.312 2.4 1.312" ] || fail "the version's numbers read $numbers"
manifest=$(wrestool -x --raw --type=24 "$exe")
grep -q '<assemblyIdentity type="win32" name="[A-Za-z0-9._-]*" version="2.4.1.312"' <<<"$manifest" ||
  fail "the manifest's identity: $(grep -A1 assemblyIdentity <<<"$manifest" | head -2)"
grep -qF "<description>Démarre Quarvén &amp; ses &lt;outils&gt;</description>" <<<"$manifest" ||
  fail "the manifest's description: $(grep description <<<"$manifest")"
echo "version $version and the manifest's identity and description: ok"

# The package follows the branding: its name, the executable, and the sample
# settings naming the product (UTF-8 with a byte-order mark, CRLF line ends).
(cd "$scratch/build" && cpack -G ZIP -B "$scratch/packages" >/dev/null)
zip=$(ls "$scratch/packages/$exe_name-"*"-windows-x86.zip") || fail "no zip named after \"$exe_name\""
mkdir "$scratch/unpacked"
(cd "$scratch/unpacked" && cmake -E tar xf "$zip")
top="$scratch/unpacked/$(basename "$zip" .zip)"
[ -f "$top/$exe_name.exe" ] || fail "the zip holds no \"$exe_name.exe\""
cmp -s "$top/$exe_name.exe" "$exe" || fail "the zipped executable differs from the built one"
ini="$top/bin/launcher.ini"
[ "$(head -c 3 "$ini" | od -An -tx1 | tr -d ' ')" == "efbbbf" ] || fail "$ini has no UTF-8 mark"
grep -q $'^name=Quarvén "Desktop"; C:\\\\Tools\\\\\r$' "$ini" || fail "$ini does not name the product"
echo "rebranded build and package: ok"
rm -rf "$scratch"
