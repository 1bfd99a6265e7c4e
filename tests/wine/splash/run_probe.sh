#!/usr/bin/env bash
# Builds form_probe.exe with MinGW, runs it under Wine in its own Xvfb and
# checks the splash on screen: geometry, frame colour, picture pixels, white
# margins, clipping, a real X click, and the picture loader's failures.
#
#   tests/wine/splash/run_probe.sh [BUILD_DIR]     (default: build/splash-dev)
#
# Needs cmake, ninja, MinGW-w64, Wine, Xvfb, xdotool and ImageMagick. Where
# Wine cannot run 32-bit programs the probe is built for 64 bits instead.
set -u

root=$(cd "$(dirname "$0")/../../.." && pwd)
build=$(realpath -m "${1:-$root/build/splash-dev}")
pictures=$build/pictures

passed=0
failed=0
check() {  # check DESCRIPTION COMMAND...
  local what=$1
  shift
  if "$@"; then
    passed=$((passed + 1))
    echo "PASS: $what"
  else
    failed=$((failed + 1))
    echo "FAIL: $what"
  fi
}

if wine --version >/dev/null 2>&1; then
  toolchain=mingw-w64-i686 loader=wine arch=win32
else
  toolchain=mingw-w64-x86_64 loader=/usr/lib/wine/wine64 arch=win64
fi
echo "building with $toolchain, running with $loader"
cmake -S "$root/tests/wine/splash" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain.cmake" >/dev/null || exit 1
cmake --build "$build" >/dev/null || exit 1

export WINEPREFIX=$build/prefix WINEARCH=$arch WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
if [ ! -e "$WINEPREFIX/probe-prefix-ready" ]; then
  "$loader" wineboot -i >/dev/null 2>&1
  # Unmanaged windows: no 2 s wait when a window is hidden without a window manager.
  "$loader" reg add "HKCU\\Software\\Wine\\X11 Driver" /v Managed /d N /f >/dev/null 2>&1
  wineserver -w
  touch "$WINEPREFIX/probe-prefix-ready"
fi

# Pictures: the demo's splash in every format, a small one with transparent and
# half-transparent parts, one larger than the window, and some that are none.
rm -rf "$pictures"
mkdir -p "$pictures/folder.png"
cp "$root/demo/bin/splash.png" "$pictures/splash.png"
for format in bmp gif jpg dds tif; do convert "$pictures/splash.png" "$pictures/splash.$format"; done
convert -size 40x20 xc:none -fill 'rgb(255,0,0)' -draw 'rectangle 0,0 19,19' \
  -fill 'rgba(0,0,255,0.5)' -draw 'rectangle 30,0 39,19' "PNG32:$pictures/small.png"
convert "$pictures/small.png" -define icon:auto-resize=32 "$pictures/small.ico"
convert -size 400x200 xc: -channel R -fx 'i/w' -channel G -fx 'j/h' -channel B -fx '(i+j)%7/6' \
  +channel "PNG24:$pictures/big.png"
cp "$pictures/small.png" "$pictures/été.png"
echo "just text" >"$pictures/text.png"
: >"$pictures/empty.gif"

# Windows path of a file of ours, through Wine's Z: drive.
win() { printf 'Z:%s' "${1//\//\\}"; }

display=90
while [ -e "/tmp/.X$display-lock" ] || [ -e "/tmp/.X11-unix/X$display" ]; do
  display=$((display + 1))
done
Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
trap 'kill "$xvfb_pid" 2>/dev/null; wineserver -k 2>/dev/null' EXIT
export DISPLAY=:$display
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

probe() { timeout 120 "$loader" "$build/form_probe.exe" "$@"; }

echo "== metrics"
probe metrics
check "form_probe metrics" test $? -eq 0

echo "== pictures"
probe load "$(win "$pictures/splash.png")" 270x77 "$(win "$pictures/splash.bmp")" 270x77 \
  "$(win "$pictures/splash.gif")" 270x77 "$(win "$pictures/splash.jpg")" 270x77 \
  "$(win "$pictures/splash.dds")" 270x77 "$(win "$pictures/splash.tif")" 481 \
  "$(win "$pictures/small.ico")" 32x32 "$(win "$pictures/small.png")" 40x20 \
  "$(win "$pictures/big.png")" 400x200 "$(win "$pictures/été.png")" 40x20 \
  "$(win "$pictures/text.png")" 481 "$(win "$pictures/empty.gif")" 481 \
  "$(win "$pictures/folder.png")" 53 "$(win "$pictures/missing.png")" 53 "" 53 \
  "$(win "$pictures")\\" 53
check "form_probe load" test $? -eq 0

echo "== events"
probe events
check "form_probe events" test $? -eq 0

# The colour "R G B" of a screenshot's pixel.
pixel() {
  convert "$1" -format "%[fx:int(255*p{$2,$3}.r+.5)] %[fx:int(255*p{$2,$3}.g+.5)] %[fx:int(255*p{$2,$3}.b+.5)]" info:
}
# Number of pixels that differ between two pictures of the same size.
differing() { compare -metric AE "$1" "$2" null: 2>&1; }

# show PICTURE TAG: the probe shows the splash; a screenshot is taken and the
# splash is clicked on screen, which ends the probe's run.
show() {
  local picture=$1 tag=$2
  local log=$build/show-$tag.log
  echo "== show $tag"
  rm -f "$log"
  probe show "$(win "$picture")" 15000 1 >"$log" 2>&1 &
  local probe_pid=$!
  for _ in $(seq 300); do grep -q '^ready' "$log" && break; sleep 0.1; done
  sleep 0.5  # painted
  # Wine's console writes CRLF.
  read -r _ left top < <(grep '^ready' "$log" | tr -d '\r')
  read -r _ shadow_r shadow_g shadow_b < <(grep '^shadow' "$log" | tr -d '\r')
  shot=$build/shot-$tag.png
  import -window root -display "$DISPLAY" "$shot"
  xdotool mousemove $((left + 138)) $((top + 42)) click 1
  wait "$probe_pid"
  local rc=$?
  cat "$log"
  check "$tag: form_probe show passed its own checks" test "$rc" -eq 0
  shadow="$shadow_r $shadow_g $shadow_b"
  echo "window at $left,$top; frame colour $shadow"
  convert "$shot" -crop "277x85+$left+$top" +repage "$build/window-$tag.png"
  window=$build/window-$tag.png
  check "$tag: window fills 277 x 85 on screen" \
    test "$(pixel "$shot" $((left - 1)) $((top - 1)))" = "0 0 0" -a \
    "$(pixel "$shot" $((left + 277)) $((top + 85)))" = "0 0 0" -a \
    "$(pixel "$window" 0 0)" = "$shadow"
  check "$tag: frame on the left and top edges" \
    test "$(pixel "$window" 0 42)" = "$shadow" -a "$(pixel "$window" 138 0)" = "$shadow"
}

show "$pictures/splash.png" splash
convert "$window" -crop 270x77+4+4 +repage "$build/drawn-splash.png"
check "splash: picture pixels at 4,4 equal the file's" \
  test "$(differing "$build/drawn-splash.png" "$pictures/splash.png")" = 0
check "splash: frame on the right and bottom edges" \
  test "$(pixel "$window" 276 42)" = "$shadow" -a "$(pixel "$window" 138 84)" = "$shadow" -a \
  "$(pixel "$window" 276 84)" = "$shadow"
check "splash: white between frame and picture" \
  test "$(pixel "$window" 2 40)" = "255 255 255" -a "$(pixel "$window" 275 40)" = "255 255 255" -a \
  "$(pixel "$window" 138 82)" = "255 255 255"
cp "$shot" "$build/splash-wine.png"

show "$pictures/small.png" small
check "small: opaque red at 4,4 to 23,23" \
  test "$(pixel "$window" 4 4)" = "255 0 0" -a "$(pixel "$window" 23 23)" = "255 0 0"
check "small: transparent part and the rest of the window white" \
  test "$(pixel "$window" 28 10)" = "255 255 255" -a "$(pixel "$window" 60 40)" = "255 255 255" -a \
  "$(pixel "$window" 10 30)" = "255 255 255"
half=$(pixel "$window" 38 10)
echo "half-transparent blue over white: $half"
# Half of blue over white: red and green near 128, blue full.
half_blue() {
  local r g b
  read -r r g b <<<"$1"
  [ "$r" -ge 125 ] && [ "$r" -le 130 ] && [ "$g" = "$r" ] && [ "$b" = 255 ]
}
check "small: half-transparent blue blended over white" half_blue "$half"
check "small: frame on the right and bottom edges" \
  test "$(pixel "$window" 276 42)" = "$shadow" -a "$(pixel "$window" 138 84)" = "$shadow"

show "$pictures/big.png" big
convert "$window" -crop 273x81+4+4 +repage "$build/drawn-big.png"
convert "$pictures/big.png" -crop 273x81+0+0 +repage "$build/expected-big.png"
check "big: picture cut off at the window's right and bottom edges" \
  test "$(differing "$build/drawn-big.png" "$build/expected-big.png")" = 0

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
