#!/usr/bin/env bash
# Each bad branding option stops the configure step with a message that names
# the option, and good ones at the limits pass. Configures a scratch Windows
# build (the one whose resources carry the texts) with the MinGW toolchain.
# Usage: branding_options_test.sh SOURCE_DIR SCRATCH_DIR
set -uo pipefail
source_dir=$1 scratch=$2
rm -rf "$scratch"
mkdir -p "$scratch/files"
files=$scratch/files

# A good icon of the test's own, and icons that exist but are no icons.
rsvg-convert -w 32 -h 32 -o "$files/32.png" "$source_dir/src/resources/launcher.svg"
icotool -c -o "$files/good.ico" "$files/32.png"
echo "not an icon" >"$files/text.ico"
head -c 30 "$files/good.ico" >"$files/truncated.ico"
echo "<svg" >"$files/broken.svg"
cp "$source_dir/demo/bin/splash.png" "$files/picture.png"
mkdir "$files/folder.svg"

long_text=$(printf 'x%.0s' {1..256})
limit_text=$(printf '\xc3\xa9%.0s' {1..255})  # 255 accented letters: at the limit
long_name=$(printf 'n%.0s' {1..252})

failures=0
# configure EXPECTED_MESSAGE OPTION=VALUE...: an empty EXPECTED_MESSAGE means
# the configure step must succeed.
configure() {
  local expected=$1
  shift
  local options=(-DLAUNCHER_EXE_NAME=launcher -DLAUNCHER_PRODUCT_NAME=launcher
                 -DLAUNCHER_COMPANY_NAME= -DLAUNCHER_FILE_DESCRIPTION=launcher -DLAUNCHER_VERSION=0.1.0
                 "-DLAUNCHER_ICON=$source_dir/src/resources/launcher.svg")
  for setting in "$@"; do
    options+=("-D$setting")
  done
  local output status
  output=$(cmake -S "$source_dir" -B "$scratch/build" -G Ninja \
             "-DCMAKE_TOOLCHAIN_FILE=$source_dir/cmake/mingw-w64-i686.cmake" \
             "${options[@]}" 2>&1)
  status=$?
  # CMake wraps long messages: compare with the lines joined.
  local joined
  joined=$(tr -s ' \n' ' ' <<<"$output")
  if [ -z "$expected" ]; then
    if [ $status -ne 0 ]; then
      echo "FAIL: configure with $* failed:"$'\n'"$output"
      failures=$((failures + 1))
      return
    fi
  elif [ $status -eq 0 ]; then
    echo "FAIL: configure with $* succeeded; expected: $expected"
    failures=$((failures + 1))
    return
  elif [[ "$joined" != *"$expected"* ]]; then
    echo "FAIL: configure with $* said:"$'\n'"$output"$'\n'"expected: $expected"
    failures=$((failures + 1))
    return
  fi
  echo "ok: $1${expected:+ -> $expected}"
}

configure "" "LAUNCHER_VERSION=7"
configure "LAUNCHER_VERSION \"1.2.3.4.5\" is no version" "LAUNCHER_VERSION=1.2.3.4.5"
configure "LAUNCHER_VERSION \"2.x\" is no version" "LAUNCHER_VERSION=2.x"
configure "70000 is more than 65535" "LAUNCHER_VERSION=1.70000"
configure "LAUNCHER_ICON: no icon file at" "LAUNCHER_ICON=$files/missing.svg"
configure "LAUNCHER_ICON: no icon file at" "LAUNCHER_ICON=$files/folder.svg"
configure "LAUNCHER_ICON: \"$files/text.ico\" is not a readable Windows icon file" \
  "LAUNCHER_ICON=$files/text.ico"
configure "is not a readable Windows icon file" "LAUNCHER_ICON=$files/truncated.ico"
configure "LAUNCHER_ICON: \"$files/broken.svg\" cannot be drawn as an SVG picture" \
  "LAUNCHER_ICON=$files/broken.svg"
configure "must be an SVG drawing (.svg) or a Windows icon (.ico)" \
  "LAUNCHER_ICON=$files/picture.png"

configure "LAUNCHER_PRODUCT_NAME holds a control character (character 10" \
  "LAUNCHER_PRODUCT_NAME=Quarven"$'\n'"Desktop"
configure "LAUNCHER_COMPANY_NAME holds a control character (character 9" \
  "LAUNCHER_COMPANY_NAME=Quarven"$'\t'"Inc"
configure "LAUNCHER_FILE_DESCRIPTION holds a control character (character 13" \
  "LAUNCHER_FILE_DESCRIPTION=Starts"$'\r'"here"
configure "LAUNCHER_FILE_DESCRIPTION is 256 characters long; at most 255" \
  "LAUNCHER_FILE_DESCRIPTION=$long_text"
configure "LAUNCHER_PRODUCT_NAME is not valid UTF-8 text" \
  "LAUNCHER_PRODUCT_NAME=Quarv"$'\xe9'"n"
configure "LAUNCHER_PRODUCT_NAME is empty" "LAUNCHER_PRODUCT_NAME="
configure "LAUNCHER_FILE_DESCRIPTION is empty" "LAUNCHER_FILE_DESCRIPTION="

configure "LAUNCHER_EXE_NAME is empty" "LAUNCHER_EXE_NAME="
configure "LAUNCHER_EXE_NAME \"bin/start\" holds \"/\"" "LAUNCHER_EXE_NAME=bin/start"
configure "LAUNCHER_EXE_NAME \"what?\" holds \"?\"" "LAUNCHER_EXE_NAME=what?"
configure "LAUNCHER_EXE_NAME \"Start.EXE\" ends in .exe" "LAUNCHER_EXE_NAME=Start.EXE"
configure "LAUNCHER_EXE_NAME \"Start.\" starts with a blank or ends with a blank or a dot" \
  "LAUNCHER_EXE_NAME=Start."
configure "LAUNCHER_EXE_NAME \"nul\" is a device name" "LAUNCHER_EXE_NAME=nul"
configure "LAUNCHER_EXE_NAME \"COM1.app\" is a device name" "LAUNCHER_EXE_NAME=COM1.app"
configure "LAUNCHER_EXE_NAME is 252 characters long" "LAUNCHER_EXE_NAME=$long_name"
configure "LAUNCHER_EXE_NAME holds a control character" "LAUNCHER_EXE_NAME=a"$'\x7f'

# What the resource compiler takes once escaped, and the limits themselves.
configure "" "LAUNCHER_PRODUCT_NAME=Say \"hi\"; C:\\Tools\\" "LAUNCHER_COMPANY_NAME=$limit_text" \
  "LAUNCHER_EXE_NAME=Quarv"$'\xc3\xa9'"n Start" "LAUNCHER_FILE_DESCRIPTION=@ONLY@ \${x}"
configure "" "LAUNCHER_ICON=$files/good.ico" \
  "LAUNCHER_EXE_NAME=${long_name:0:251}"

if [ $failures -ne 0 ]; then
  echo "$failures case(s) failed"
  exit 1
fi
rm -rf "$scratch"
echo "all branding cases passed"
