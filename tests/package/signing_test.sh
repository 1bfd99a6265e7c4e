#!/usr/bin/env bash
# A signed 64-bit launcher.exe built from scratch with a throwaway certificate
# made here: osslsigncode verifies the executable inside the zip, whose version
# texts and icon are intact, and the zip runs as shipped under Wine. Then the
# bad inputs (a missing certificate, an empty password file, a password given
# as a value, no certificate at all, a wrong password, a time-stamp server
# that does not answer) each stop the configure step or the build with a
# message naming the option, and a failed signature leaves no executable.
# Usage: signing_test.sh SOURCE_DIR SCRATCH_DIR WINE64 WINESERVER PREFIX_SCRIPT
set -uo pipefail
source_dir=$1 scratch=$2 wine64=$3 wineserver=$4 prefix_script=$5
here=$(cd "$(dirname "$0")" && pwd)
build=$scratch/build
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
mkdir -p "$scratch"
find "$scratch" -mindepth 1 -maxdepth 1 ! -name build ! -name e2e -exec rm -rf {} +
keys=$scratch/keys
mkdir -p "$keys"

# A self-signed code-signing certificate with its key, in a PKCS#12 file
# whose password is in a file of its own.
openssl req -x509 -newkey rsa:2048 -sha256 -days 2 -nodes -subj "/CN=Launcher Signing Test" \
  -addext "extendedKeyUsage=codeSigning" -keyout "$keys/key.pem" -out "$keys/cert.pem" \
  2>/dev/null || fail "openssl could not make the certificate"
printf 'a throwaway password\n' >"$keys/password.txt"
openssl pkcs12 -export -inkey "$keys/key.pem" -in "$keys/cert.pem" -out "$keys/cert.p12" \
  -passout "file:$keys/password.txt" || fail "openssl could not make the PKCS#12 file"

# CMake wraps its messages: words are compared with single blanks between them.
flat() { tr -s ' \n' '  ' <<<"$1"; }
# configure ARGS...: configures the scratch build, its output in $said.
configure() {
  said=$(cmake -S "$source_dir" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=MinSizeRel \
    "-DCMAKE_TOOLCHAIN_FILE=$source_dir/cmake/mingw-w64-x86_64.cmake" "$@" 2>&1)
  local status=$?
  said=$(flat "$said")
  return $status
}
# refused OPTION TEXT ARGS...: the configure step stops, naming OPTION and saying TEXT.
refused() {
  local option=$1 text=$2
  shift 2
  configure "$@" && fail "configured with $*"
  grep -q "$option" <<<"$said" && grep -q "$text" <<<"$said" ||
    fail "the configure step with $* did not say \"$option ... $text\": $said"
  echo "refused at configure time: $option ... $text"
}
signing_with() {
  echo "-DLAUNCHER_SIGN_CERTIFICATE=$1" "-DLAUNCHER_SIGN_PASSWORD_FILE=$2" \
    "-DLAUNCHER_SIGN_TIMESTAMP_URL=${3:-}"
}
exe=$build/launcher.exe

echo "== signed build and package"
# shellcheck disable=SC2046
configure $(signing_with "$keys/cert.p12" "$keys/password.txt") ||
  fail "cannot configure: $said"
cmake --build "$build" --target launcher probe >/dev/null || fail "the signed build failed"
(cd "$build" && cpack -G ZIP -B "$scratch/packages" >/dev/null) || fail "cpack failed"
zip=$(ls "$scratch/packages/"launcher-*-windows-x64.zip) || fail "no zip"
mkdir "$scratch/unpacked"
(cd "$scratch/unpacked" && cmake -E tar xf "$zip")
zipped="$scratch/unpacked/$(basename "$zip" .zip)/launcher.exe"
cmp -s "$zipped" "$exe" || fail "the zipped launcher.exe is not the signed one"
verified=$(osslsigncode verify -CAfile "$keys/cert.pem" -in "$zipped" 2>&1) ||
  fail "osslsigncode does not verify the zipped launcher.exe: $verified"
grep -q "Message digest algorithm  : SHA256" <<<"$verified" || fail "not signed with SHA-256: $verified"
grep -q "Subject: /CN=Launcher Signing Test" <<<"$verified" || fail "signed by someone else: $verified"
echo "signed launcher.exe: $(stat -c %s "$zipped") bytes; osslsigncode verify:"
grep -E "^(Signature verification|Number of verified signatures|Succeeded)" <<<"$verified"
"$here/check_exe_resources.sh" "$zipped" "$build/icons/launcher.ico" ProductName=launcher \
  FileDescription=launcher OriginalFilename=launcher.exe FileVersion=0.1.0 ||
  fail "the signed executable's resources changed"
"$here/package_e2e.sh" windows "$zip" launcher "$build/tests/probe/probe.exe" "$scratch/e2e" \
  "$wine64" "$wineserver" "$prefix_script" || fail "the signed zip does not run under Wine"

echo "== bad inputs"
refused LAUNCHER_SIGN_CERTIFICATE "does not exist" \
  $(signing_with "$keys/missing.p12" "$keys/password.txt")
: >"$keys/empty.txt"
refused LAUNCHER_SIGN_PASSWORD_FILE "is empty" $(signing_with "$keys/cert.p12" "$keys/empty.txt")
refused LAUNCHER_SIGN_PASSWORD_FILE "is not set" $(signing_with "$keys/cert.p12" "")
refused LAUNCHER_SIGN_CERTIFICATE "is not" $(signing_with "" "$keys/password.txt")
refused LAUNCHER_SIGN_PASSWORD_FILE "is not taken" "-DLAUNCHER_SIGN_PASSWORD=a throwaway password"
grep -q "throwaway" "$build/CMakeCache.txt" && fail "the password was left in the cache"

# failed_build OPTION ARGS...: configured, the build stops naming OPTION and
# leaves no launcher.exe behind.
failed_build() {
  local option=$1
  shift
  configure "$@" || fail "cannot configure with $*: $said"
  local built
  built=$(cmake --build "$build" --target launcher 2>&1) && fail "built with $*"
  built=$(flat "$built")
  grep -q "Signing .* failed, see $option" <<<"$built" ||
    fail "the build with $* did not name $option: $built"
  [ ! -e "$exe" ] || fail "a failed signature left $exe"
  echo "refused at build time: $(grep -o "see $option[^;]*" <<<"$built" | head -n 1)"
}
echo "not a certificate" >"$keys/garbage.p12"
failed_build LAUNCHER_SIGN_CERTIFICATE $(signing_with "$keys/garbage.p12" "$keys/password.txt")
printf 'not the password\n' >"$keys/wrong.txt"
failed_build LAUNCHER_SIGN_PASSWORD_FILE $(signing_with "$keys/cert.p12" "$keys/wrong.txt")
# Nothing listens on port 9 (discard) here: refused at once.
failed_build LAUNCHER_SIGN_TIMESTAMP_URL \
  $(signing_with "$keys/cert.p12" "$keys/password.txt" "http://127.0.0.1:9/")

# Unsigned again by default: the same folder builds an executable without a signature.
configure "-ULAUNCHER_SIGN_*" || fail "cannot configure unsigned: $said"
cmake --build "$build" --target launcher >/dev/null || fail "the unsigned build failed"
osslsigncode verify -in "$exe" >/dev/null 2>&1 && fail "the default build is signed"
echo "signing: ok"
