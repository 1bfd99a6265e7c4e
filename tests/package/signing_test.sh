#!/usr/bin/env bash
# A signed launcher.exe and its zip, built in a folder of their own with a
# throwaway certificate the test makes: osslsigncode verifies the exe inside
# the zip against that certificate (SHA-256), its version information and icon
# are intact, the package runs as shipped under Wine; the default build is
# unsigned; and each bad input stops the configure step or the build, within
# its bound, naming the option, with no unsigned executable left behind. The
# password is found neither in the build's cache nor in its commands.
# Usage: signing_test.sh SOURCE_DIR SCRATCH_DIR ARCH DEFAULT_EXE PROBE LOADER WINESERVER
set -uo pipefail
source_dir=$1 scratch=$2 arch=$3 default_exe=$4 probe=$5 loader=$6 wineserver=$7
here=$(cd "$(dirname "$0")" && pwd)
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
rm -rf "$scratch"
mkdir -p "$scratch/files"
files=$scratch/files build=$scratch/build
toolchain=mingw-w64-i686
[ "$arch" == x64 ] && toolchain=mingw-w64-x86_64

# The throwaway signer: a self-signed code-signing certificate, its key in a
# PKCS#12 file behind a password that only a file holds.
password="launcher-test-$RANDOM$RANDOM"
printf '%s\n' "$password" >"$files/password.txt"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Launcher test signer" \
  -addext "extendedKeyUsage=codeSigning" -keyout "$files/key.pem" -out "$files/signer.pem" \
  2>/dev/null || fail "openssl cannot make a certificate"
openssl pkcs12 -export -inkey "$files/key.pem" -in "$files/signer.pem" \
  -passout "file:$files/password.txt" -out "$files/signer.p12" || fail "openssl cannot make signer.p12"
printf 'wrong\n' >"$files/wrong-password.txt"
printf '%s\n# the signer of 2026\n' "$password" >"$files/two-lines.txt"
: >"$files/empty.txt"
echo "not a certificate" >"$files/text.p12"

# configure OPTION=VALUE...: prints the output, returns the status.
configure() {
  local options=()
  for setting in "$@"; do
    options+=("-D$setting")
  done
  timeout 300 cmake -S "$source_dir" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=MinSizeRel \
    "-DCMAKE_TOOLCHAIN_FILE=$source_dir/cmake/$toolchain.cmake" "${options[@]}" 2>&1
}
build_launcher() { timeout 900 cmake --build "$build" --target launcher 2>&1; }
good=("LAUNCHER_SIGN_CERTIFICATE=$files/signer.p12" "LAUNCHER_SIGN_PASSWORD_FILE=$files/password.txt"
      "LAUNCHER_SIGN_TIMESTAMP_URL=")

echo "== signed build and zip"
configure "${good[@]}" >"$scratch/configure.txt" || fail "configure failed: $(cat "$scratch/configure.txt")"
grep -q "LAUNCHER_SIGN_TIMESTAMP_URL is empty" "$scratch/configure.txt" ||
  fail "no warning that an unstamped signature ends with its certificate"
build_launcher >"$scratch/build.txt" || fail "the signed build failed: $(cat "$scratch/build.txt")"
grep -q -- "-- Signed .*launcher.exe (SHA-256)" "$scratch/build.txt" ||
  fail "the build did not sign: $(cat "$scratch/build.txt")"
grep -rqF -- "$password" "$build/CMakeCache.txt" "$build/build.ninja" &&
  fail "the password is in the cache or the build's commands"
(cd "$build" && cpack -G ZIP -B "$scratch/packages" >/dev/null) || fail "cpack failed"
zip=$(ls "$scratch/packages/"*"-windows-$arch.zip") || fail "no zip"
mkdir "$scratch/unpacked"
(cd "$scratch/unpacked" && cmake -E tar xf "$zip")
exe="$scratch/unpacked/$(basename "$zip" .zip)/launcher.exe"
[ -f "$exe" ] || fail "the zip holds no launcher.exe"
verify=$(osslsigncode verify -CAfile "$files/signer.pem" -in "$exe" 2>&1) ||
  fail "osslsigncode does not verify the zipped launcher.exe: $verify"
grep -q "^Signature verification: ok" <<<"$verify" || fail "no verified signature: $verify"
grep -q "^Message digest algorithm *: SHA256" <<<"$verify" || fail "not SHA-256: $verify"
grep -q "Subject: /CN=Launcher test signer" <<<"$verify" || fail "signed by another: $verify"
echo "$(stat -c %s "$exe") bytes, signed; $(grep -m1 '^Signature verification' <<<"$verify")"
"$here/check_exe_resources.sh" "$exe" "$build/icons/launcher.ico" ProductName=launcher \
  FileDescription=launcher OriginalFilename=launcher.exe FileVersion=0.1.0 || fail "resources"
"$here/package_e2e.sh" windows "$zip" launcher "$probe" "$scratch/e2e" "$loader" "$wineserver" \
  "$source_dir/tests/wine/make_prefix.cmake" || fail "the signed package does not run under Wine"

echo "== a certificate renewed in place signs the next build"
mv "$files/signer.p12" "$files/first.p12"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Launcher renewed signer" \
  -addext "extendedKeyUsage=codeSigning" -keyout "$files/key2.pem" -out "$files/renewed.pem" \
  2>/dev/null || fail "openssl cannot make the renewed certificate"
openssl pkcs12 -export -inkey "$files/key2.pem" -in "$files/renewed.pem" \
  -passout "file:$files/password.txt" -out "$files/signer.p12" || fail "openssl cannot make it"
build_launcher >"$scratch/rebuild.txt" || fail "the rebuild failed: $(cat "$scratch/rebuild.txt")"
verify=$(osslsigncode verify -CAfile "$files/renewed.pem" -in "$build/launcher.exe" 2>&1) ||
  fail "not signed again with the renewed certificate: $verify"
grep -q "Subject: /CN=Launcher renewed signer" <<<"$verify" || fail "signed by another: $verify"
mv "$files/first.p12" "$files/signer.p12"

echo "== the default build is unsigned"
unsigned=$(osslsigncode verify -in "$default_exe" 2>&1) && fail "$default_exe is signed"
grep -q "No signature found" <<<"$unsigned" || fail "$default_exe: $unsigned"

# bad STEP EXPECTED OPTION=VALUE...: configure (and, for STEP build, build)
# must fail with EXPECTED, an option's name, in its message.
failures=0
bad() {
  local step=$1 expected=$2
  shift 2
  local output status
  output=$(configure "$@")
  status=$?
  if [ "$step" == build ] && [ $status -eq 0 ]; then
    output=$(build_launcher)
    status=$?
  fi
  if [ $status -eq 0 ] || [ $status -eq 124 ] || ! grep -qF -- "$expected" <<<"$output"; then
    echo "FAIL: $* gave status $status without naming $expected:"
    tail -n 15 <<<"$output"
    failures=$((failures + 1))
  elif [ -e "$build/launcher.exe" ] && [ "$step" == build ]; then
    echo "FAIL: $* left an unsigned launcher.exe"
    failures=$((failures + 1))
  else
    echo "ok: $step stopped, naming $expected: $(grep -m1 -F -- "$expected" <<<"$output")"
  fi
}

echo "== bad inputs"
bad configure LAUNCHER_SIGN_CERTIFICATE "LAUNCHER_SIGN_CERTIFICATE=$files/missing.p12" \
  "${good[@]:1}"
bad configure LAUNCHER_SIGN_PASSWORD_FILE "${good[0]}" "LAUNCHER_SIGN_PASSWORD_FILE=$files/empty.txt" \
  "${good[2]}"
bad configure LAUNCHER_SIGN_PASSWORD_FILE "${good[0]}" "LAUNCHER_SIGN_PASSWORD_FILE=" "${good[2]}"
bad configure LAUNCHER_SIGN_CERTIFICATE "LAUNCHER_SIGN_CERTIFICATE=" "${good[@]:1}" \
  "LAUNCHER_SIGN_TIMESTAMP_URL=http://127.0.0.1:9/"
bad configure LAUNCHER_SIGN_TIMESTAMP_URL "${good[@]:0:2}" "LAUNCHER_SIGN_TIMESTAMP_URL=127.0.0.1"
bad build LAUNCHER_SIGN_CERTIFICATE "LAUNCHER_SIGN_CERTIFICATE=$files/text.p12" "${good[@]:1}"
bad build LAUNCHER_SIGN_PASSWORD_FILE "${good[0]}" \
  "LAUNCHER_SIGN_PASSWORD_FILE=$files/wrong-password.txt" "${good[2]}"
bad build LAUNCHER_SIGN_PASSWORD_FILE "${good[0]}" \
  "LAUNCHER_SIGN_PASSWORD_FILE=$files/two-lines.txt" "${good[2]}"
# Nothing listens on the discard port of this machine: the time stamp fails.
bad build LAUNCHER_SIGN_TIMESTAMP_URL "${good[@]:0:2}" "LAUNCHER_SIGN_TIMESTAMP_URL=http://127.0.0.1:9/"
[ $failures -eq 0 ] || fail "$failures bad inputs went through"
echo "signing: ok"
rm -rf "$scratch"
